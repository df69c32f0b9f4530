#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery parses stdout line by line; CRLF would end up in names.
    _setmode(_fileno(stdout), _O_BINARY);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
