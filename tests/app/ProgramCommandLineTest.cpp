// The program's command line: its commands, Qt's own options left alone, and the refusals.
#include <QTest>

#include "app/ProgramCommandLine.h"

namespace hushwell {

namespace {

using Args = std::vector<std::string>;

ProgramCommand CommandOf(const Args& arguments) {
    const ProgramCommandLine::Parsed parsed = ProgramCommandLine::Parse(arguments);
    return parsed.error.empty() ? parsed.command : ProgramCommand::Run;
}

std::string ErrorOf(const Args& arguments) {
    return ProgramCommandLine::Parse(arguments).error;
}

}  // namespace

class ProgramCommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void eachCommandAndItsRequest() {
        const std::vector<std::pair<std::string, ProgramCommand>> commands = {
            {"show", ProgramCommand::Show},
            {"record", ProgramCommand::Record},
            {"record-save", ProgramCommand::RecordSave},
            {"register", ProgramCommand::Register},
            {"toggle", ProgramCommand::Toggle},
            {"quit", ProgramCommand::Quit},
            {"status", ProgramCommand::Status}};
        const std::string usage = ProgramCommandLine::Usage();
        for (const auto& [request, command] : commands) {
            QCOMPARE(CommandOf({"--" + request}), command);
            QCOMPARE(ProgramCommandLine::RequestOf(command), std::string_view(request));
            QCOMPARE(ProgramCommandLine::CommandOfRequest(request), command);
            QVERIFY2(usage.find("  --" + request + " ") != std::string::npos, request.c_str());
        }
        QCOMPARE(CommandOf({}), ProgramCommand::Run);
        QCOMPARE(CommandOf({"--help"}), ProgramCommand::Help);
        QVERIFY(ProgramCommandLine::RequestOf(ProgramCommand::Run).empty());
        QCOMPARE(ProgramCommandLine::CommandOfRequest("help"), ProgramCommand::Run);
        QCOMPARE(ProgramCommandLine::CommandOfRequest("--show"), ProgramCommand::Run);
    }

    void qtOptionsAndPlainArgumentsAreLeftToQt() {
        QCOMPARE(CommandOf({"-platform", "offscreen"}), ProgramCommand::Run);
        QCOMPARE(CommandOf({"-session", "1234", "--status"}), ProgramCommand::Status);
        QCOMPARE(CommandOf({"--"}), ProgramCommand::Run);
        QCOMPARE(CommandOf({"--show", "--show"}), ProgramCommand::Show);
    }

    void unknownOptionsAndTwoCommandsAreErrors() {
        QCOMPARE(ErrorOf({"--frobnicate"}), std::string("unknown option --frobnicate"));
        QCOMPARE(ErrorOf({"--Status"}), std::string("unknown option --Status"));
        QCOMPARE(ErrorOf({"--show=1"}), std::string("unknown option --show=1"));
        QCOMPARE(ErrorOf({"--record", "--quit"}),
                 std::string("only one command at a time: --quit"));
        QCOMPARE(ErrorOf({"--help", "--status"}),
                 std::string("only one command at a time: --status"));
    }
};

}  // namespace hushwell

QTEST_APPLESS_MAIN(hushwell::ProgramCommandLineTest)
#include "ProgramCommandLineTest.moc"
