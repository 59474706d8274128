#include "app/RemoteRoots.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

using zephyrine::app::BuiltInRemoteRoots;
using zephyrine::app::RemoteRootsFromEnvironment;
using zephyrine::test::TScopedEnv;

TEST(RemoteRoots, BuiltInWithoutEnvironment) {
    unsetenv("ZEPHYRINE_CONTENT_ROOT");
    unsetenv("ZEPHYRINE_CATALOGUE_ROOT");
    const auto roots = RemoteRootsFromEnvironment();
    EXPECT_EQ(roots.ContentRoot, BuiltInRemoteRoots().ContentRoot);
    EXPECT_EQ(roots.CatalogueRoot, BuiltInRemoteRoots().CatalogueRoot);
    EXPECT_FALSE(roots.ContentRoot.empty());
}

TEST(RemoteRoots, EnvironmentOverridesWithoutTrailingSlash) {
    TScopedEnv content("ZEPHYRINE_CONTENT_ROOT", "http://content.example:8080/");
    TScopedEnv catalogue("ZEPHYRINE_CATALOGUE_ROOT", "http://catalogue.example");
    const auto roots = RemoteRootsFromEnvironment();
    EXPECT_EQ(roots.ContentRoot, "http://content.example:8080");
    EXPECT_EQ(roots.CatalogueRoot, "http://catalogue.example");
}
