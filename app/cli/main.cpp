// quirewell-count: the command-line page counter.
#include "CliOptions.h"
#include "CliVersion.h"
#include "CountCommand.h"
#include "MergeTotals.h"
#include "ProductInfo.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_interruptPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

// A closed standard stream would be taken by the next file the program opens (the interrupt
// pipe, a component library), and output or messages would go there. Standard input and error
// get /dev/null; a closed standard output is reported. False when standard output is closed.
bool standardOutputOpen()
{
    const bool outOpen = ::fcntl(1, F_GETFD) != -1 || errno != EBADF;
    for (int fd : {0, 2}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
    if (!outOpen) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0 && null != 1) {
            ::dup2(null, 1);
            ::close(null);
        }
    }
    return outOpen;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool outOpen = standardOutputOpen();
    QCoreApplication app(argc, argv);
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args << QByteArray(argv[i]);
    const cli::CliOptions options = cli::ParseArguments(args);
    if (!outOpen && options.error.isEmpty()) {
        std::fprintf(stderr, "quirewell-count: cannot write the output: %s\n",
                     cli::CountCommand::outputErrorText(EBADF).constData());
        return cli::kExitSomeFailed;
    }
    if (options.help) {
        std::fputs(cli::UsageText().toUtf8().constData(), stdout);
        return cli::kExitCounted;
    }
    if (options.version) {
        std::printf("quirewell-count %s (%s)\n", kCliVersion, product::VersionLine);
        return cli::kExitCounted;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "quirewell-count: %s\nTry 'quirewell-count --help'.\n", options.error.toUtf8().constData());
        return cli::kExitUsage;
    }
    if (options.merge)
        return cli::RunMerge(options, stdin, stdout, stderr);

    int status = cli::kExitCounted;
    {
        cli::CountCommand command(options, stdout, stderr);
        if (::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            auto *notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, &app);
            QObject::connect(notifier, &QSocketNotifier::activated, &command, [&command] {
                char byte;
                while (::read(g_interruptPipe[0], &byte, 1) > 0) {
                }
                command.interrupt();
            });
            std::signal(SIGINT, onInterrupt);
        }
        status = command.run();
    }
    if (search::SearchCore::busyThreads() > 0) {
        // A counter call that could not be interrupted still runs on its own thread; the static
        // destructors could unload its library under it, so leave without them.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
