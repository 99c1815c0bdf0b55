// Start-up of quorvik-term: the command line, the run's mode (a scripted run, or the terminal
// front end), then the run itself; its exit status is the program's.
#include "term_app.h"
#include "term_options.h"
#include "terminal.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    PrepareConsole();
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const TTermCommandLine command_line = ParseTermCommandLine(arguments, kWindowsPlatform,
                                                                  ReadWholeFile);
    switch (command_line.action) {
    case taHelp:
    case taVersion:
        std::fputs(command_line.output.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitDone : kExitStepFailed;
    case taUsage: std::fputs(command_line.output.c_str(), stderr); return kExitUsage;
    case taRun: break;
    }
    std::unique_ptr<TTerminal> terminal = MakeTerminal();
    std::string error;
    const TRunMode mode = ChooseRunMode(command_line.options, StdinIsTerminal(),
                                        StdoutIsTerminal(), terminal != nullptr, &error);
    if (mode == rmUsage) {
        std::fputs(error.c_str(), stderr);
        return kExitUsage;
    }
    if (mode == rmScripted) terminal.reset();
    try {
        TTermApp app(command_line.options, std::move(terminal));
        return app.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvik-term: %s\n", e.what());
        return kExitStepFailed;
    }
}
