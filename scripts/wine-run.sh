#!/usr/bin/env bash
# Runs one Windows program under the project's private Wine prefix. Used as
# CMake's cross-compiling emulator, so ctest and test discovery go through it.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
wine_run "$@"
