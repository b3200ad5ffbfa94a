#include "app/OrvaneApp.h"

#include "serial/SerialPlatform.h"
#include "ui/OrvaneDlg.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Write end of the pipe through which a stop signal wakes the window's thread.
// Set before the handlers are installed and left alone until they are gone.
int g_stopWrite = -1;

// Any thread, in signal context: only tells the window's thread, which does the work.
extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    const unsigned char byte = 1;
    // Non-blocking: with the pipe full a stop is already pending.
    [[maybe_unused]] const ssize_t n = ::write(g_stopWrite, &byte, 1);
    errno = saved;
}

// SIGTERM, SIGHUP and SIGINT end the program as closing the window does: the
// capture is closed, then the port with its own settings restored, exit 0.
// The handlers only write a byte to a pipe that the event loop watches. They
// stay for the whole run; a second signal of the same kind, while the first is
// still being handled, ends the program at once (the default action), so a
// stuck shutdown can still be stopped.
class CStopSignals {
public:
    static constexpr std::array<int, 3> kSignals{SIGTERM, SIGHUP, SIGINT};

    CStopSignals()
    {
        std::array<int, 2> fds{-1, -1};
        if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
            std::fprintf(stderr, "orvane: pipe2: %s; signals end the program at once\n", std::strerror(errno));
            return;
        }
        m_read.Reset(fds[0]);
        m_write.Reset(fds[1]);
        g_stopWrite = m_write.Get();
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            m_installed[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }
    ~CStopSignals()
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (m_installed[i])
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
        g_stopWrite = -1;
    }
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    int Fd() const { return m_read.Get(); }
    void Drain()
    {
        std::array<unsigned char, 64> bytes{};
        while (::read(m_read.Get(), bytes.data(), bytes.size()) > 0) {
        }
    }

private:
    serialio::UniqueFd m_read;
    serialio::UniqueFd m_write;
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::array<bool, kSignals.size()> m_installed{};
};

}   // namespace

int COrvaneApp::InitInstance(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral("0.3.1"));
    // Before the dialog, so it outlives it: a signal while the port closes waits.
    CStopSignals stopSignals;
    CQtPrompts prompts;
    COrvaneDlg dialog(prompts);
    prompts.SetParent(&dialog);

    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (stopSignals.Fd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(stopSignals.Fd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &dialog, [&] {
            stopSignals.Drain();
            // As the close box does: the capture closes now, the port when the
            // dialog goes at the end of this function. exit() also ends any
            // message box or file dialog that is open.
            dialog.reject();
            QCoreApplication::exit(0);
        });
    }
    dialog.show();
    app.exec();
    return 0;
}
