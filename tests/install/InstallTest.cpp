#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Options.h"

namespace fs = std::filesystem;

namespace {

const std::vector<int> kIconSizes = {16, 24, 32, 48, 64, 128, 256};

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The keys of the [Desktop Entry] group.
std::map<std::string, std::string> DesktopEntry(const fs::path& file) {
    std::map<std::string, std::string> keys;
    bool inEntry = false;
    for (const std::string& line : Lines(ReadText(file))) {
        if (!line.empty() && line[0] == '[') inEntry = line == "[Desktop Entry]";
        const auto equals = line.find('=');
        if (inEntry && equals != std::string::npos)
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

// Width and height from a PNG's header; zero when the file is no PNG.
std::pair<int, int> PngSize(const fs::path& file) {
    const std::string bytes = ReadText(file);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    const auto number = [&bytes](std::size_t at) {
        int value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value * 256 + static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    return {number(16), number(20)};
}

// The build's install rules, run once into a scratch root as a package build runs them.
class InstallTree : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "veltra-install-XXXXXX").string();
        root_ = new fs::path(mkdtemp(pattern.data()));
        const std::string command = "DESTDIR='" + root_->string() +
                                    "' '" VELTRA_CMAKE "' --install '" VELTRA_BUILD_DIR
                                    "' --prefix /usr >'" +
                                    (*root_ / "install.log").string() + "' 2>&1";
        installed_ = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(*root_, ignored);
        delete root_;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << ReadText(*root_ / "install.log"); }
    static fs::path Usr() { return *root_ / "usr"; }
    static fs::path Source() { return VELTRA_SOURCE_DIR; }

    static inline fs::path* root_ = nullptr;
    static inline bool installed_ = false;
};

}  // namespace

TEST_F(InstallTree, EveryFileIsInPlaceWithItsMode) {
    std::vector<std::pair<fs::path, unsigned>> files = {
        {"bin/veltra-lamp", 0755},
        {"bin/veltra-lampctl", 0755},
        {"share/veltra-lamp/options.xml", 0644},
        {"share/applications/com.veltra.DigitalLamp.desktop", 0644},
        {"share/metainfo/com.veltra.DigitalLamp.metainfo.xml", 0644},
        {"share/icons/hicolor/scalable/apps/veltra-lamp.svg", 0644},
        {"lib/udev/rules.d/70-veltra-lamp.rules", 0644},
        {"share/man/man1/veltra-lamp.1.gz", 0644},
        {"share/man/man1/veltra-lampctl.1.gz", 0644},
        {"share/doc/veltra-lamp/copyright", 0644},
        {"share/doc/veltra-lamp/changelog.gz", 0644},
    };
    for (const int size : kIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        files.push_back({"share/icons/hicolor/" + folder + "/apps/veltra-lamp.png", 0644});
    }
    for (const auto& [file, mode] : files) {
        struct stat info {};
        ASSERT_EQ(stat((Usr() / file).c_str(), &info), 0) << file;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << file;
        EXPECT_EQ(info.st_mode & 07777, mode) << file;
    }
    EXPECT_EQ(ReadText(Usr() / "lib/udev/rules.d/70-veltra-lamp.rules"),
              ReadText(Source() / "packaging/linux/70-veltra-lamp.rules"));
}

TEST_F(InstallTree, MenuEntryStartsTheInstalledProgramWithItsIcon) {
    const fs::path desktop = Usr() / "share/applications/com.veltra.DigitalLamp.desktop";
    auto keys = DesktopEntry(desktop);
    EXPECT_EQ(keys["Type"], "Application");
    // Exec names a program on the PATH, which for an installed package is the prefix's bin/.
    const std::string exec = keys["Exec"].substr(0, keys["Exec"].find(' '));
    ASSERT_FALSE(exec.empty());
    EXPECT_EQ(exec.find('/'), std::string::npos) << exec;
    const fs::path program = Usr() / "bin" / exec;
    ASSERT_TRUE(fs::is_regular_file(program)) << program;
    EXPECT_NE(fs::status(program).permissions() & fs::perms::others_exec, fs::perms::none);

    // Icon names a theme icon: the scalable one and every PNG size, each as large as its folder.
    const std::string icon = keys["Icon"];
    ASSERT_FALSE(icon.empty());
    EXPECT_TRUE(fs::is_regular_file(Usr() / "share/icons/hicolor/scalable/apps" / (icon + ".svg")));
    for (const int size : kIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const auto png = Usr() / "share/icons/hicolor" / folder / "apps" / (icon + ".png");
        EXPECT_EQ(PngSize(png), std::make_pair(size, size)) << png;
    }

    // The software centre's entry launches this menu entry.
    EXPECT_NE(ReadText(Usr() / "share/metainfo/com.veltra.DigitalLamp.metainfo.xml")
                  .find("<launchable type=\"desktop-id\">com.veltra.DigitalLamp.desktop<"),
              std::string::npos);
    if (HaveTool("desktop-file-validate")) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + desktop.string() + "'").c_str()), 0);
    }
    if (HaveTool("appstreamcli")) {
        const std::string validate =
            "appstreamcli validate-tree --no-net '" + root_->string() + "'";
        EXPECT_EQ(std::system(validate.c_str()), 0);
    }
}

TEST_F(InstallTree, DefaultOptionsTalkToTheRealLampWithoutALog) {
    const Coptions options((Usr() / "share/veltra-lamp").string());
    ASSERT_TRUE(options.Loaded());
    EXPECT_EQ(options.SimulatedLamps(), 0);
    EXPECT_FALSE(options.GetBool("LOG"));
    // Everything else is the repository's.
    const auto shipped = Lines(ReadText(Usr() / "share/veltra-lamp/options.xml"));
    const auto repository = Lines(ReadText(Source() / "data/options.xml"));
    ASSERT_EQ(shipped.size(), repository.size());
    for (std::size_t i = 0; i < shipped.size(); ++i) {
        if (shipped[i].find("<SIMULATE>") != std::string::npos ||
            shipped[i].find("<LOG>") != std::string::npos)
            continue;
        EXPECT_EQ(shipped[i], repository[i]) << "line " << i + 1;
    }
}

TEST_F(InstallTree, ClientRunsFromTheInstalledTree) {
    const std::string client = (Usr() / "bin/veltra-lampctl").string();
    const std::string out = (*root_ / "client.out").string();
    ASSERT_EQ(std::system(("'" + client + "' --help >'" + out + "' 2>&1").c_str()), 0)
        << ReadText(out);
    EXPECT_EQ(ReadText(out).rfind("usage: veltra-lampctl", 0), 0u) << ReadText(out);
    // With no bus to reach, it says the program is not running rather than failing otherwise.
    const std::string noBus =
        "DBUS_SESSION_BUS_ADDRESS='unix:path=" + (*root_ / "no-bus").string() + "' '" + client +
        "' status >'" + out + "' 2>&1";
    const int status = std::system(noBus.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 3) << ReadText(out);
}

// The client's manual page has a paragraph for every command its --help lists (set xy, preset
// save, ...), and every exit status.
TEST_F(InstallTree, TheClientsManualPageCoversItsUsage) {
    const fs::path page = Usr() / "share/man/man1/veltra-lampctl.1.gz";
    const std::string text = (*root_ / "veltra-lampctl.1").string();
    ASSERT_EQ(std::system(("gzip -dc '" + page.string() + "' >'" + text + "'").c_str()), 0);
    std::vector<std::string> headings;
    for (const std::string& line : Lines(ReadText(text)))
        if (line.rfind(".B", 0) == 0) headings.push_back(line);
    const std::string help = (*root_ / "help.out").string();
    const std::string client = (Usr() / "bin/veltra-lampctl").string();
    ASSERT_EQ(std::system(("'" + client + "' --help >'" + help + "' 2>&1").c_str()), 0);
    int commands = 0;
    const auto covered = [&](std::string& phrase) {
        if (phrase.empty()) return;
        ++commands;
        EXPECT_TRUE(
            std::any_of(headings.begin(), headings.end(),
                        [&](const std::string& h) { return h.find(phrase) != std::string::npos; }))
            << "no paragraph for " << phrase;
        phrase.clear();
    };
    for (const std::string& line : Lines(ReadText(help))) {
        if (line.rfind("  ", 0) != 0) continue;
        // Each alternative's leading lower-case words name a command: "set xy", "watch".
        std::istringstream words(line);
        std::string phrase;
        for (std::string word; words >> word;) {
            if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos) {
                phrase += (phrase.empty() ? "" : " ") + word;
            } else {
                covered(phrase);
            }
        }
        covered(phrase);
    }
    // status, set xy|cct|lux|intensity, channel, preset list|save|load|delete, power, sleep, watch
    EXPECT_GE(commands, 13);
    for (int status = 0; status <= 5; ++status) {
        EXPECT_NE(std::find(headings.begin(), headings.end(), ".B " + std::to_string(status)),
                  headings.end())
            << "exit status " << status;
    }
}
