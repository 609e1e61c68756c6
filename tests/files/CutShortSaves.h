#pragma once

#include "files/StagedFiles.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <initializer_list>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Saves cut short by a kill, made in a child process so that the test sees what they leave.

// Installs `filter` on this process for good.
inline bool installSyscallFilter(std::vector<sock_filter> filter)
{
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
           && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Makes every later open with O_TMPFILE in this process fail as it does on file systems without
// unnamed files (NFS, many FUSE file systems): EOPNOTSUPP.
inline bool refuseUnnamedFiles()
{
    constexpr unsigned unnamedFlag = O_TMPFILE & ~O_DIRECTORY;
    return installSyscallFilter({
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, unnamedFlag, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    });
}

// Kills this process, as the task manager or a power cut would, the moment it makes one of
// `calls` (without a core file).
inline bool killAtSystemCalls(std::initializer_list<long> calls)
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    for (const long call : calls) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(call), 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    return installSyscallFilter(filter);
}

// Whether O_TMPFILE works in `folder` for this process.
inline bool unnamedFilesWork(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// How the child `process` ended: its exit code, or 128 + the signal that killed it.
inline int exitCodeOf(pid_t process)
{
    int status = 0;
    if (process <= 0 || waitpid(process, &status, 0) != process)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A program saving `targets` together that is killed once every file was written beside its
// target and before any was put in place. True once it died so.
inline bool saveKilledBeforeItsRenames(const QStringList &targets, bool unnamedFiles)
{
    const pid_t child = fork();
    if (child == 0) {
        if (!unnamedFiles && !refuseUnnamedFiles())
            _exit(3);
        store::StagedFiles staged;
        for (const QString &target : targets) {
            if (!staged.stage(target, QByteArray("{\"packs\": []}\n")))
                _exit(4);
        }
        raise(SIGKILL);
        _exit(5);
    }
    return exitCodeOf(child) == 128 + SIGKILL;
}

// Every file in `folder`, hidden ones included.
inline QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The staged files in `folder`.
inline QStringList stagedFilesIn(const QString &folder)
{
    return filesIn(folder).filter(QStringLiteral(".sonetra-staged-"));
}
