#include "FileBytes.h"
#include "platform/FileIO.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr uid_t kNobody = 65534;

QByteArray Local(const QString& path) { return QFile::encodeName(path); }

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    return ::stat(Local(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

struct TSaveResult {
    bool saved;
    QString reason;
};

TSaveResult Save(const QString& path, const QByteArray& bytes, const QString& fallback)
{
    try {
        WriteFileAtomically(path, bytes, fallback);
        return {true, {}};
    } catch (const Exception& e) {
        return {false, e.Message()};
    }
}

// Root ignores a folder's mode, so as root the save runs in a child that has
// become nobody and reports through its exit status and a pipe.
TSaveResult SaveUnprivileged(const QString& path, const QByteArray& bytes, const QString& fallback)
{
    if (::geteuid() != 0)
        return Save(path, bytes, fallback);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {false, QStringLiteral("no pipe")};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        int code = 2;
        if (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0) {
            const TSaveResult result = Save(path, bytes, fallback);
            const QByteArray reason = result.reason.toUtf8();
            code = ::write(pipeFds[1], reason.constData(), size_t(reason.size())) == reason.size() && result.saved ? 0 : 1;
        }
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    QByteArray reason;
    char buffer[1024];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        reason.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "the child could not become nobody";
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, QString::fromUtf8(reason)};
}

// A 256 KiB tmpfs, so that saves meet a full disk.
class SmallDisk : public testing::Test {
protected:
    void SetUp() override
    {
        FDisk = FDir.filePath(QStringLiteral("disk"));
        ASSERT_TRUE(QDir().mkpath(FDisk));
        FMounted = ::mount("tmpfs", Local(FDisk).constData(), "tmpfs", 0, "size=256k") == 0;
        if (!FMounted)
            FMountError = QStringLiteral("cannot mount a tmpfs: ") + QString::fromLocal8Bit(std::strerror(errno));
    }
    void TearDown() override
    {
        // As another user than root the temporary folder could not be removed.
        ::chmod(Local(FDir.filePath(QStringLiteral("ro"))).constData(), 0700);
        if (FMounted) {
            EXPECT_EQ(::umount2(Local(FDisk).constData(), MNT_DETACH), 0) << std::strerror(errno);
        }
    }

    QTemporaryDir FDir;
    QString FDisk, FMountError;
    bool FMounted = false;
};

} // namespace

TEST_F(SmallDisk, SaveLeavesTheWholeNewOrTheWholeOldContent)
{
    if (!FMounted)
        GTEST_SKIP() << FMountError.toStdString();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    const QString path = FDisk + QStringLiteral("/f.txt");
    QByteArray current;
    WriteFileAtomically(path, current);
    int saved = 0, refused = 0;
    for (int round = 0; round < 40; ++round) {
        // Old and new both live on the disk until the rename: these sizes
        // fit beside some old contents and not beside others.
        const auto size = std::uniform_int_distribution<qsizetype>(0, 240 * 1024)(random);
        const QByteArray next(size, char('a' + round % 26));
        try {
            WriteFileAtomically(path, next);
            current = next;
            ++saved;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromLocal8Bit(std::strerror(ENOSPC)));
            ++refused;
        }
        ASSERT_EQ(ReadBytes(path), current) << "round " << round << ", " << size << " bytes";
        ASSERT_EQ(Entries(FDisk), QStringList{QStringLiteral("f.txt")}) << "round " << round;
    }
    EXPECT_GT(saved, 0);
    EXPECT_GT(refused, 0);
}

TEST(WriteFileAtomically, KeepsModeAndOwnerAndWritesThroughLinks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.txt")), link = dir.filePath(QStringLiteral("link"));
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(Local(path).constData(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(Local(path).constData(), kNobody, kNobody), 0);
    }
    ASSERT_TRUE(QFile::link(path, link));

    WriteFileAtomically(link, "new");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    if (root) {
        EXPECT_EQ(QFileInfo(path).ownerId(), kNobody);
    }
}

TEST_F(SmallDisk, FileInAFolderThatRefusesNewFilesIsWrittenInPlace)
{
    const QString folder = FDir.filePath(QStringLiteral("ro")), path = folder + QStringLiteral("/f.txt");
    const QString fallback = FDir.filePath(QStringLiteral("state/save-copies"));
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteBytes(path, "old content that is longer");
    ASSERT_EQ(::chmod(Local(path).constData(), 0640), 0);
    const bool root = ::geteuid() == 0;
    for (const QString& p : {FDir.path(), folder, path})
        ASSERT_TRUE(!root || ::chown(Local(p).constData(), kNobody, kNobody) == 0);
    ASSERT_EQ(::chmod(Local(folder).constData(), 0555), 0);

    TSaveResult result = SaveUnprivileged(path, "new", fallback);
    EXPECT_TRUE(result.saved) << result.reason.toStdString();
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(Entries(fallback), QStringList());
    EXPECT_EQ(ModeOf(fallback), 0700u);

    // The in-place write meets a full disk: the copy keeps the new content.
    if (!FMounted)
        GTEST_SKIP() << "a failing in-place write is not checked, " << FMountError.toStdString();
    const QString full = FDisk + QStringLiteral("/f.txt");
    WriteBytes(full, "old");
    WriteBytes(FDisk + QStringLiteral("/filler"), QByteArray(256 * 1024, 'x'));
    for (const QString& p : {FDisk, full})
        ASSERT_TRUE(!root || ::chown(Local(p).constData(), kNobody, kNobody) == 0);
    ASSERT_EQ(::chmod(Local(FDisk).constData(), 0555), 0);
    const QByteArray big(64 * 1024, 'n');
    result = SaveUnprivileged(full, big, fallback);
    EXPECT_FALSE(result.saved);
    const QStringList copies = Entries(fallback);
    ASSERT_EQ(copies.size(), 1);
    const QString copy = fallback + u'/' + copies.front();
    EXPECT_TRUE(result.reason.contains(u'"' + copy + u'"')) << result.reason.toStdString();
    EXPECT_TRUE(result.reason.startsWith(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << result.reason.toStdString();
    EXPECT_EQ(ReadBytes(copy), big);
}
