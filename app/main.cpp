// Veltrad: loads a program image into a KV-9090 terminal over a serial line.

#include "app/VeltradApp.h"
#include "image/StandardStreams.h"

int main(int argc, char** argv)
{
    // Before anything is opened (the display's connection, a port, a file):
    // none of them may take a standard stream's number.
    if (!veltrad::OpenStandardStreams())
        return 1;
    veltrad::CVeltradApp app(argc, argv);
    app.InitInstance();
    return 0;
}
