// imgflag: the command-line companion of the window program.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "imgflag.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event)
{
    ks::cli::requestStop(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;  // imgflag finishes the current file, then stops
}

// A closed pipe is seen only when a line cannot be written.
bool stdoutBroken()
{
    return false;
}
#else
void onSignal(int signal)
{
    ks::cli::requestStop(signal);
}

// Whether stdout is a pipe or socket whose reader has gone; asks without writing.
bool stdoutBroken()
{
    pollfd out{STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) > 0 && (out.revents & (POLLERR | POLLHUP)) != 0;
}
#endif

// Every signal that would end the process unasked (all but the faults of the
// program itself) lets the current file finish and the lines of the files
// already switched be printed; a closed pipe shows as a failed write, not as
// sudden death.
void installStopHandlers()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    SetConsoleOutputCP(CP_UTF8);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGPOLL,
                             SIGXCPU, SIGXFSZ,
#ifdef __linux__
                             SIGPWR, SIGSTKFLT,
#endif
                         }) {
        sigaction(signal, &action, nullptr);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    installStopHandlers();
    ks::platform::raiseOpenFileLimit();
    try {
        const auto files = ks::platform::nativeFileLayer();
        return ks::cli::run(ks::platform::utf8Arguments(argc, argv), std::cout, std::cerr, *files, stdoutBroken);
    } catch (const std::exception& e) {
        std::cerr << "imgflag: " << e.what() << '\n';
        return ks::cli::kExitProblem;
    }
}
