#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "app/Guard.h"

TEST(OneCopyGuard, SecondCopyIsRefusedUntilTheFirstEnds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        COneCopyGuard first(dir.path());
        ASSERT_TRUE(first.Acquire());
        COneCopyGuard second(dir.path());
        EXPECT_FALSE(second.Acquire());
    }
    COneCopyGuard next(dir.path());
    EXPECT_TRUE(next.Acquire());
}

TEST(OneCopyGuard, CopyThatDiedWithoutCleaningUpDoesNotBlock) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child takes the guard and dies without letting it go, like a crash.
        COneCopyGuard guard(dir.path());
        _exit(guard.Acquire() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    COneCopyGuard guard(dir.path());
    ASSERT_TRUE(QFile::exists(guard.FileName()));
    EXPECT_TRUE(guard.Acquire());
}
