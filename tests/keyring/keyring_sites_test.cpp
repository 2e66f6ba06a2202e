// SPDX-License-Identifier: MIT
// The saved sites and the desktop keyring, on the private bus of tests/servers/keyring/run.sh.
#include <gtest/gtest.h>

#include "browse/site_dialog.h"
#include "browse/site_list.h"
#include "core/queue_list.h"
#include "engine/keyring_service.h"
#include "support/temp_dir.h"

namespace bw::test {
namespace {

using engine::KeyringService;

TEST(KeyringSitesTest, ASitesPasswordMovesToTheKeyringAndGoesWithTheSite)
{
    KeyringService keyring{2000};
    ASSERT_EQ(keyring.waitForProbe(5000), KeyringService::State::Available)
        << "the keyring tests run through tests/servers/keyring/run.sh";
    keyring.setInUse(KeyringService::Holder::Queue, {});
    TempDir dir;
    browse::SiteEntry site{"Work", "pw:1", "bob", 0, 2121, "127.0.0.1", {}};
    site.options.tls = browse::SiteTls::Explicit;
    browse::SiteEntry withoutPassword = site;
    withoutPassword.password.clear();
    browse::SiteList expected;
    expected.append(withoutPassword);

    browse::SiteList sites;
    sites.setKeyring(&keyring);
    sites.append(site);
    ASSERT_TRUE(sites.save(dir / "database.usr")); // the keyring takes the password first
    ASSERT_TRUE(keyring.waitUntilIdle(5000));
    ASSERT_TRUE(sites.saveIfModified(dir / "database.usr"));
    EXPECT_EQ(readFile(dir / "database.usr"), expected.serialize());
    EXPECT_EQ(keyring.lookup(*browse::siteLogin(site), {}), "pw:1");

    // Kept in files again: a site loaded without its password gets it back from the keyring.
    keyring.setUsedForFiles(false);
    browse::SiteList reloaded;
    reloaded.setKeyring(&keyring);
    ASSERT_TRUE(reloaded.load(dir / "database.usr", {}));
    ASSERT_TRUE(reloaded.save(dir / "kept.usr"));
    ASSERT_TRUE(keyring.waitUntilIdle(5000));
    ASSERT_TRUE(reloaded.save(dir / "kept.usr"));
    browse::SiteList withPassword;
    withPassword.append(site);
    EXPECT_EQ(readFile(dir / "kept.usr"), withPassword.serialize());
    keyring.setUsedForFiles(true);

    // Connecting to the site leaves the password to the worker's look-up.
    core::QueueList queue;
    const std::int32_t id =
        browse::queueManualConnection(queue, "bob", "", "127.0.0.1", 2121, site.options, &keyring);
    EXPECT_EQ(core::snapshotOrVanished(queue, id).url, "ftpes://bob@127.0.0.1:2121");

    sites.remove(0);
    ASSERT_TRUE(sites.save(dir / "database.usr"));
    ASSERT_TRUE(keyring.waitUntilIdle(5000));
    KeyringService another{2000};
    another.waitForProbe(5000);
    EXPECT_EQ(another.lookup(*browse::siteLogin(site), {}), std::nullopt);
}

} // namespace
} // namespace bw::test
