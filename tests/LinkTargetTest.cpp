#include <set>
#include <string>

#include <gtest/gtest.h>

#include "../format/LinkTarget.h"

namespace
{

/* The directories a target passes through, and which of them are links. */
struct Walk {
    std::set<std::string> links;
    std::string passed;
};

int Passes(const char *directory, void *context)
{
    Walk *walk = static_cast<Walk *>(context);
    walk->passed += std::string(directory) + ";";
    return walk->links.count(directory) == 0;
}

bool Safe(const char *name, const char *target, Walk &walk)
{
    return IsSafeLinkTarget(name, target, Passes, &walk) != 0;
}

TEST(LinkTarget, ATargetMayClimbToTheDestinationButNeverAbove)
{
    Walk walk;
    EXPECT_TRUE(Safe("lib/libfoo.so", "libfoo.so.1", walk));
    EXPECT_TRUE(Safe("a/b/up", "../../c", walk));
    EXPECT_TRUE(Safe("a/here", ".", walk));
    EXPECT_TRUE(Safe("top", "a//./b", walk));
    EXPECT_FALSE(Safe("a/b/up", "../../../c", walk));
    /* Leaving and coming back in is leaving. */
    EXPECT_FALSE(Safe("a/x", "../../dest/a/y", walk));
    EXPECT_FALSE(Safe("x", "/etc/passwd", walk));
    EXPECT_FALSE(Safe("x", "", walk));
}

TEST(LinkTarget, EveryDirectoryOnTheWayIsAskedAndNoneMayBeALink)
{
    Walk walk;
    EXPECT_TRUE(Safe("d/l", "../a/b/../c/f", walk));
    EXPECT_EQ(walk.passed, "a;a/b;a/c;");
    /* A trailing '/' resolves the last component as a directory too. */
    walk.passed.clear();
    EXPECT_TRUE(Safe("l", "a/", walk));
    EXPECT_EQ(walk.passed, "a;");
    walk.links = {"d/up"};
    EXPECT_FALSE(Safe("m", "d/up/../x", walk));
    /* A link to a link is followed by the kernel, each link being safe. */
    EXPECT_TRUE(Safe("m", "d/up", walk));
}

} // namespace
