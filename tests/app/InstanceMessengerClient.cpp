// A second process for the messenger tests: sends a request ("show" unless one is given) to
// the socket path given, prints the answer and exits 0 when the listening instance answered.
#include <QCoreApplication>
#include <iostream>

#include "app/InstanceMessenger.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        return 2;
    }
    const char* request = argc == 3 ? argv[2] : hushwell::InstanceMessenger::kShowRequest;
    const hushwell::InstanceMessenger::Answer answer =
        hushwell::InstanceMessenger::Send(argv[1], request);
    if (answer.outcome != hushwell::InstanceMessenger::Outcome::Answered) {
        return 1;
    }
    std::cout << answer.reply << '\n';
    return 0;
}
