#!/usr/bin/env bash
# Wine as the project starts it: with the host's address-space randomisation
# off for the process. This Wine has no preloader to reserve the low address
# space before the host's loader maps anything, so now and then a host
# mapping lands where Wine must place a fixed Windows structure, and the
# process dies before it runs ("failed to map the shared user data:
# c0000018", unseen with WINEDEBUG=-all): about one process in a thousand, so
# one test in every other run of the suite. Without randomisation the layout
# is the same every time.
exec setarch -R "$VEMBRO_WINE" "$@"
