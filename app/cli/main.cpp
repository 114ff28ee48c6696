// quirewell-count: the command-line page counter.
#include "CliOptions.h"
#include "CountCommand.h"
#include "ProductInfo.h"

#include <QCoreApplication>
#include <QSocketNotifier>

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

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args << QByteArray(argv[i]);
    const cli::CliOptions options = cli::ParseArguments(args);
    if (options.help) {
        std::fputs(cli::UsageText().toUtf8().constData(), stdout);
        return cli::kExitCounted;
    }
    if (options.version) {
        std::printf("quirewell-count (%s)\n", product::VersionLine);
        return cli::kExitCounted;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "quirewell-count: %s\nTry 'quirewell-count --help'.\n", options.error.toUtf8().constData());
        return cli::kExitUsage;
    }

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
