// Veltrad: loads a program image into a KV-9090 terminal over a serial line.

#include "app/VeltradApp.h"

int main(int argc, char** argv)
{
    veltrad::CVeltradApp app(argc, argv);
    app.InitInstance();
    return 0;
}
