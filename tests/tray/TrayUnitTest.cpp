// The pure pieces of the tray and the settings: where the task menu opens, what a close request
// does, which output folders the settings can hold, the write probe.

#include "CloseBehaviour.h"
#include "ConfigStore.h"
#include "FileBytes.h"
#include "MenuPlacement.h"
#include "OutputFolderChoice.h"
#include "PlatformChoice.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(MenuPlacementTest, StaysAtTheCursorOrFlipsAndStaysInsideTheWorkArea)
{
    const QRect screen(0, 0, 1280, 800);
    const QRect panelAtBottom(0, 0, 1280, 768);
    const QRect secondScreen(1280, 100, 1024, 668);
    const QSize menu(148, 214);
    const struct {
        const char* label;
        QPoint cursor;
        QSize menu;
        QRect work;
        QPoint expected;
    } rows[] = {
        {"room below and right: nudged", {100, 100}, menu, screen, {106, 94}},
        {"bottom right corner: above, right edges flush", {1270, 760}, menu, panelAtBottom, {1132, 540}},
        {"bottom only: above the cursor", {500, 700}, menu, panelAtBottom, {506, 480}},
        {"right only: pulled left", {1200, 100}, menu, screen, {1132, 94}},
        {"near the top: kept below the top edge", {100, 2}, menu, screen, {106, 0}},
        {"taller than the work area: at its top", {100, 100}, {148, 900}, screen, {106, 0}},
        {"wider than the work area: at its left", {100, 100}, {1400, 214}, screen, {0, 94}},
        {"second screen with an offset work area", {2290, 760}, menu, secondScreen, {2156, 540}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PlaceMenu(row.cursor, row.menu, row.work), row.expected) << row.label;
}

TEST(CloseBehaviourTest, QuitAlwaysExitsTheCloseButtonFollowsWindowClose)
{
    const struct {
        int code;
        uint32_t windowClose;
        bool tray;
        bool minimisedCanReturn;
        CloseAction expected;
    } rows[] = {
        {0, 0, true, true, CloseAction::kExit},           {0, 1, true, true, CloseAction::kHideToTray},
        {0, 2, true, false, CloseAction::kHideToTray},    {0, 1, false, true, CloseAction::kMinimise},
        {0, 0xFFFFFFFF, false, true, CloseAction::kMinimise},
        // Neither a status area nor anything that brings a minimised window back: it stays reachable.
        {0, 1, false, false, CloseAction::kLower},        {0, 0, false, false, CloseAction::kExit},
        {kQuitCloseCode, 1, true, true, CloseAction::kExit}, {kQuitCloseCode, 1, false, false, CloseAction::kExit},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DecideCloseAction(row.code, row.windowClose, row.tray, row.minimisedCanReturn), row.expected)
            << row.code << " " << row.windowClose << " " << row.tray << " " << row.minimisedCanReturn;
}

TEST(PlatformChoiceTest, X11UnlessThereIsNoDisplayOrTheUserChoseAPlatform)
{
    char name[] = "tamsu-recorder", option[] = "-platform", wayland[] = "wayland", joined[] = "--platform=wayland";
    const std::tuple<const char*, const char*, std::vector<char*>, std::vector<std::string>> rows[] = {
        {":0", "", {name}, {name, "-platform", "xcb"}},  {nullptr, nullptr, {name}, {name}},
        {":0", "wayland", {name}, {name}},              {":0", nullptr, {name, option, wayland}, {name, option, wayland}},
        {":0", nullptr, {name, joined}, {name, joined}},
    };
    for (auto [display, qpa, args, expected] : rows) {
        const std::vector<char*> out = ArgumentsWithPlatform(static_cast<int>(args.size()), args.data(), display, qpa);
        EXPECT_EQ(out.back(), nullptr);
        EXPECT_EQ(std::vector<std::string>(out.begin(), out.end() - 1), expected) << args.size();
    }
}

TEST(OutputFolderTest, RefusedPathsAreExactlyThoseTheStoreCannotGiveBack)
{
    TestEnv env;
    const QString base = env.Root() + "/folder";
    const QString paths[] = {
        base,
        base + " ",
        " " + base,
        base + "\nx",
        "\"" + base + "\"",
        base + "/\"quoted\" part",
        base + QString(259 - base.size(), 'a'),
        base + QString(260 - base.size(), 'a'),
        base + "/录音 文件夹",
    };
    for (const QString& path : paths) {
        ASSERT_TRUE(WriteConfigString(config::kSection, config::kOutputDir, path));
        QString back;
        ReadConfigString(config::kSection, config::kOutputDir, QString(), back, config::kOutputDirCapacity);
        EXPECT_EQ(StoreCanHoldOutputDir(path), back == path) << path.toStdString();
    }
}

TEST(OutputFolderTest, WriteProbeLeavesTheFolderAsItWasAndRefusesWhatCannotBeWritten)
{
    TestEnv env;
    const QString folder = env.MakeFolder("out");
    // A file of the user's under the probe's name survives unchanged.
    const QString mine = folder + "/" + kWriteProbeName;
    WriteBytes(mine.toStdString(), "keep me");
    QString error;
    EXPECT_TRUE(ProbeFolderWritable(folder, &error)) << error.toStdString();
    EXPECT_EQ(ReadBytes(mine.toStdString()), "keep me");
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{kWriteProbeName});

    ASSERT_TRUE(QFile::remove(mine));
    EXPECT_TRUE(ProbeFolderWritable(folder));
    EXPECT_TRUE(QDir(folder).isEmpty()) << "the probe was left behind";

    for (const QString& refused : {QString("/proc"), mine, folder + "/missing", QString()}) {
        EXPECT_FALSE(ProbeFolderWritable(refused, &error)) << refused.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

} // namespace
