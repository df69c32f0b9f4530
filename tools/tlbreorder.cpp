// placeholder, replaced by the real reorder tool
#include <windows.h>
int wmain(int argc, wchar_t** argv) { if (argc < 3) return 2; return CopyFileW(argv[1], argv[2], FALSE) ? 0 : 1; }
