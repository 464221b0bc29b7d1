#include "Wayfarer/OneWindowPerLesson.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace wayfarer
{

namespace
{

// How long a later start waits for the first one to answer. A first one that
// cannot answer in that time is taken to be gone, so the learner still gets a window.
const int kAnswerMs = 5000;

// Qt hands out the runtime folder only when it is ours alone (owned by us, mode
// 0700), so nobody else can pose as the first window. The bundle path is hashed:
// a socket's path must stay short whatever the lesson's name.
QByteArray socketPath(const QString &bundlePath)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    const QByteArray id =
        QCryptographicHash::hash(QFile::encodeName(bundlePath), QCryptographicHash::Sha256);
    const QByteArray path = QFile::encodeName(runtime) + "/wayfarer-" + id.toHex().left(32);
    return path.size() < qsizetype(sizeof(sockaddr_un::sun_path)) ? path : QByteArray();
}

sockaddr_un address(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), path.size());
    return address;
}

FileDescriptor unixSocket()
{
    return FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

// Whether a first one listens at `path` and answers.
bool firstAnswers(const QByteArray &path)
{
    const FileDescriptor first = unixSocket();
    const sockaddr_un to = address(path);
    if (!first.isOpen() ||
        ::connect(first.get(), reinterpret_cast<const sockaddr *>(&to), sizeof(to)) != 0)
        return false;
    pollfd answer{first.get(), POLLIN, 0};
    char byte = 0;
    return ::poll(&answer, 1, kAnswerMs) == 1 && ::read(first.get(), &byte, 1) == 1;
}

} // namespace

OneWindowPerLesson::OneWindowPerLesson(const QString &bundlePath,
                                       std::function<void()> bringForward)
    : m_path(socketPath(bundlePath)), m_bringForward(std::move(bringForward))
{
}

// The socket goes with us, unless a later start has put its own in its place.
OneWindowPerLesson::~OneWindowPerLesson()
{
    struct stat now {
    };
    if (m_listening.isOpen() && ::lstat(m_path.constData(), &now) == 0 &&
        now.st_ino == m_socketNode)
        ::unlink(m_path.constData());
}

bool OneWindowPerLesson::handedOver()
{
    if (m_path.isEmpty())
        return false;
    // Two starts at the same moment would each find no first one: they decide in turn.
    QLockFile turn(QFile::decodeName(m_path + ".lock"));
    if (!turn.tryLock(3 * kAnswerMs))
        return false;
    if (firstAnswers(m_path))
        return true;
    listen();
    return false;
}

// Without a socket this window is simply not found by later starts.
void OneWindowPerLesson::listen()
{
    // A socket left by a first one that ended abruptly would block binding.
    ::unlink(m_path.constData());
    FileDescriptor listening = unixSocket();
    const sockaddr_un at = address(m_path);
    if (!listening.isOpen() ||
        ::bind(listening.get(), reinterpret_cast<const sockaddr *>(&at), sizeof(at)) != 0 ||
        ::listen(listening.get(), 4) != 0)
        return;
    struct stat made {
    };
    m_socketNode = ::lstat(m_path.constData(), &made) == 0 ? made.st_ino : 0;
    m_listening = std::move(listening);
    m_notifier = std::make_unique<QSocketNotifier>(m_listening.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            &OneWindowPerLesson::answerLaterStart);
}

void OneWindowPerLesson::answerLaterStart()
{
    const FileDescriptor later(::accept4(m_listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!later.isOpen())
        return;
    m_bringForward();
    // The later one only waits for a byte; if it has gone, there is nobody to tell.
    (void)::send(later.get(), "\n", 1, MSG_NOSIGNAL);
}

} // namespace wayfarer
