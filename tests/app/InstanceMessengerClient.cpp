// A second process for the messenger tests: sends "show" to the socket path given, exits 0
// when the listening instance took it.
#include <QCoreApplication>

#include "app/InstanceMessenger.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        return 2;
    }
    return hushwell::InstanceMessenger::RequestShow(argv[1]) ? 0 : 1;
}
