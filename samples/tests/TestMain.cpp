#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery parses stdout line by line; CRLF would end up in names.
    _setmode(_fileno(stdout), _O_BINARY);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
