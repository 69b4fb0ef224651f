// A program that talks to a lamp through the built-in binding a number of
// times and ends normally, without any clean-up call of its own: the test
// that starts it (under the same umockdev test bed) sees what the binding
// does at a program's end.
//   exchange_helper SERIAL COUNT
// Exit status 0 when every exchange went through.
#include "lamp/d2xx/libftdi_binding.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const D2xxApi &api = tintrava::libftdiApi();
    const int count = std::atoi(argv[2]);
    int done = 0;
    for (int i = 0; i < count; ++i) {
        DWORD n = 0;
        if (api.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
            break;
        char serial[50];
        std::snprintf(serial, sizeof serial, "%s", argv[1]);
        FT_HANDLE handle = nullptr;
        if (api.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
            break;
        char frame[] = "\xFF\x45";
        DWORD written = 0;
        const bool ok = api.SetBaudRate(handle, 9600) == FT_OK && api.Write(handle, frame, 2, &written) == FT_OK
            && written == 2;
        if (api.Close(handle) != FT_OK || !ok)
            break;
        ++done;
    }
    std::printf("exchanges=%d\n", done);
    return done == count ? 0 : 1;
}
