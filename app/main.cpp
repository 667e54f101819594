#include "app/CTamselApp.h"

int main(int argc, char** argv) {
    hushwell::CTamselApp app(argc, argv);
    return app.Run();
}
