// The parameter sheet and parameter files end to end: the real elq770.exe
// under Wine against the simulator, driven through the sheet's and the file
// dialogs' controls, observed through the words the simulator receives, the
// files on disk and the message boxes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/e2e/sim_log.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

const char* SHEET = "title=ELQ770 Parameters";
const char* PROGRAM_TITLE = "ELQ770 Configuration tool";
constexpr int EN_KILLFOCUS = 0x200;
constexpr int CBN_SELCHANGE = 1;
constexpr int CB_SETCURSEL = 0x14E;
constexpr int CB_GETCURSEL = 0x147;
constexpr int PSM_SETCURSEL = 0x465;
constexpr int IDOK = 1;
constexpr int WM_COMMAND = 0x111;
constexpr int FILE_NAME_EDIT = 1148;
constexpr int WM_NEXTDLGCTL = 0x28;
constexpr int EM_GETSEL = 0xB0;

bool isParameterWord(uint16_t word) { return word >= 3000 && word < 65000; }

std::vector<uint16_t> parameterWords(const e2e::Simulator& sim) {
    std::vector<uint16_t> words;
    for (uint16_t word : sim.receivedWords())
        if (isParameterWord(word)) words.push_back(word);
    return words;
}

// The value a saved image holds for the parameter of that code.
uint16_t savedValue(const std::string& image, uint16_t code) {
    const struct { uint16_t code; int offset; } fields[] = {
        {3000, 0},  {3100, 2},  {3300, 4},  {3900, 6},  {3020, 8},  {3010, 10}, {3200, 12}, {3600, 14},
        {4200, 16}, {3030, 18}, {3040, 20}, {3060, 22}, {3050, 24}, {3070, 26}, {4500, 28}, {3065, 30},
    };
    for (const auto& f : fields)
        if (f.code == code)
            return static_cast<uint16_t>(static_cast<uint8_t>(image[f.offset]) | static_cast<uint8_t>(image[f.offset + 1]) << 8);
    return 0;
}

class Parameters : public e2e::ProgramCase {
protected:
    void start() { ASSERT_TRUE(startProgram()); }
    void stop() { closeProgram(); }

    bool openSheet() {
        command(2000);
        return e2e::waitWindow(SHEET, 10000).found;
    }

    static void showPage(int index) {
        e2e::probe({"send", SHEET, ".", std::to_string(PSM_SETCURSEL), std::to_string(index), "0"});
    }

    // Types into an edit box of the visible page and leaves it.
    static void enter(int controlId, const std::string& text) {
        e2e::probe({"set-text", SHEET, std::to_string(controlId), text});
        e2e::probe({"notify", SHEET, std::to_string(controlId), std::to_string(EN_KILLFOCUS)});
    }

    static void choose(int controlId, int position) {
        e2e::probe({"send", SHEET, std::to_string(controlId), std::to_string(CB_SETCURSEL), std::to_string(position), "0"});
        e2e::probe({"notify", SHEET, std::to_string(controlId), std::to_string(CBN_SELCHANGE)});
    }

    // Gives a box of the visible page the focus, as a click into it would.
    static void focus(int controlId) {
        std::istringstream rows(e2e::probe({"children", SHEET}));
        std::string marker = " id=" + std::to_string(controlId) + " visible=1";
        for (std::string row; std::getline(rows, row);)
            if (row.find(marker) != std::string::npos)
                e2e::probe({"send", SHEET, ".", std::to_string(WM_NEXTDLGCTL), row.substr(0, row.find(' ')), "1"});
    }

    static std::string textOf(int controlId) { return e2e::trimmedLine(e2e::probe({"get-text", SHEET, std::to_string(controlId)})); }

    static int selectionOf(int controlId) {
        return std::stoi(e2e::probe({"send", SHEET, std::to_string(controlId), std::to_string(CB_GETCURSEL), "0", "0"}));
    }

    static void pressOk(const std::string& target) {
        e2e::probe({"post", target, ".", std::to_string(WM_COMMAND), std::to_string(IDOK), "0"});
        e2e::probe({"wait-gone", target, "10000"});
    }

    // Answers the program's open or save dialog with a path.
    static void answerFileDialog(const std::string& title, const std::string& path) {
        ASSERT_TRUE(e2e::waitWindow("title=" + title, 10000).found) << title;
        e2e::probe({"set-text", "title=" + title, std::to_string(FILE_NAME_EDIT), e2e::winPath(path)});
        pressOk("title=" + title);
    }

    static void cancelFileDialog(const std::string& title) {
        ASSERT_TRUE(e2e::waitWindow("title=" + title, 10000).found) << title;
        e2e::probe({"post", "title=" + title, ".", std::to_string(WM_COMMAND), "2", "0"});
        e2e::probe({"wait-gone", "title=" + title, "10000"});
    }

    // The text of a message box under that title, "" when none comes.
    static std::string messageBox(const std::string& title, const std::string& icon, int timeoutMs = 5000) {
        e2e::MessageBoxInfo box = e2e::waitMessageBox(title, timeoutMs);
        if (!box.found) return "";
        EXPECT_EQ(icon, box.icon);
        e2e::closeMessageBox(title, icon == "warning" ? "IDYES" : "IDOK");
        return e2e::trimmedLine(box.text);
    }

};

TEST_F(Parameters, SheetShowsTheDeviceAndOkSendsOnlyAcceptedChanges) {
    e2e::Simulator sim(1, {"--param", "3100=60", "--param", "3300=120", "--param", "3010=2",
                           "--param", "3020=3", "--param", "4500=90"});
    start();
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    ASSERT_TRUE(openSheet());
    EXPECT_EQ("60", textOf(1011));
    EXPECT_EQ("12.0", textOf(1013));
    EXPECT_EQ(3, selectionOf(1068));
    enter(1013, "12,5");
    enter(1011, "100");  // refused: the standing value goes back into the box
    EXPECT_EQ("60", textOf(1011));
    showPage(1);
    EXPECT_EQ("60", textOf(1011)) << "the refusal holds the sheet on Limit 1 once";
    showPage(1);
    EXPECT_EQ(1, selectionOf(1010)) << "Limit 2 is of type Max.";
    enter(1011, "45");
    showPage(2);
    EXPECT_EQ("90", textOf(1030));
    enter(1030, "30");
    size_t before = sim.receivedWords().size();
    e2e::probe({"post", SHEET, ".", std::to_string(WM_COMMAND), std::to_string(IDOK), "0"});  // held once on P1Max
    pressOk(SHEET);
    ASSERT_TRUE(sim.waitForWord(3245, 3000));
    std::this_thread::sleep_for(1000ms);
    std::vector<uint16_t> words = sim.receivedWords();
    words.erase(words.begin(), words.begin() + static_cast<long>(before));
    EXPECT_EQ((std::vector<uint16_t>{3425, 3245, 65050}), words) << "only the accepted changes, then the read-back";
    EXPECT_EQ("", messageBox(PROGRAM_TITLE, "stop", 1000)) << "the device confirmed them";
}

TEST_F(Parameters, OkWithoutChangesSendsNoParameterAndOneChangeOneWord) {
    e2e::Simulator sim(1);
    start();
    ASSERT_TRUE(openSheet());
    pressOk(SHEET);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(parameterWords(sim).empty());

    ASSERT_TRUE(openSheet());
    choose(1010, 0);  // Limit 1: "Min." (the simulator starts with Max.)
    pressOk(SHEET);
    ASSERT_TRUE(sim.waitForWord(3001, 3000));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(std::vector<uint16_t>{3001}, parameterWords(sim));
}

TEST_F(Parameters, WrongReadBackGivesMessage81) {
    e2e::Simulator sim(1, {"--wrong-params"});
    start();
    ASSERT_TRUE(openSheet());
    enter(1011, "50");
    pressOk(SHEET);
    EXPECT_EQ("Parameters not transferred correctly!", messageBox(PROGRAM_TITLE, "stop", 10000));
}

TEST_F(Parameters, SilentDeviceAsksFirstAndTheDownloadTimesOut) {
    e2e::Simulator sim(1, {"--no-answer"});
    start();
    command(2000);
    EXPECT_EQ("Unit not connected. Parameters can not be send.\nContinue?",
              messageBox(PROGRAM_TITLE, "warning", 10000));
    ASSERT_TRUE(e2e::waitWindow(SHEET, 10000).found);
    EXPECT_EQ("0", textOf(1011)) << "nothing received: the all-zero record";
    EXPECT_EQ(-1, selectionOf(1010));
    pressOk(SHEET);
    EXPECT_EQ("Timeout on confirmation of parameters.\nPlease check!", messageBox(PROGRAM_TITLE, "stop", 10000));
}

// Save, then load from another folder: the sixteen words leave in code order,
// one per pump tick, and the settings stay where the program started.
TEST_F(Parameters, SavedFileLoadsBackWordByWordAndSettingsStayPut) {
    e2e::Simulator sim(1, {"--param", "3100=50"});
    start();
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    std::this_thread::sleep_for(1500ms);  // the answer and the text have arrived
    fs::create_directory(dir_ + "/files");
    std::string file = dir_ + "/files/unit.770";
    command(2009);
    answerFileDialog("Save As", file);
    ASSERT_TRUE(e2e::waitForFile(file, 5000));
    std::this_thread::sleep_for(300ms);
    std::string image = e2e::readFile(file);
    ASSERT_EQ(76u, image.size());
    EXPECT_EQ(std::string("\x32\x00", 2), image.substr(2, 2));
    EXPECT_EQ("ELQ770 SIM 1.0", std::string(image.c_str() + 32));
    EXPECT_EQ(std::string(10, '\0'), image.substr(66));

    size_t before = e2e::simulatorLogWords(sim.logPath()).size();
    command(2010);
    answerFileDialog("Open", file);
    std::vector<e2e::LoggedWord> words;
    for (int i = 0; i < 50 && words.size() < 17; ++i) {
        std::this_thread::sleep_for(100ms);
        words = e2e::simulatorLogWords(sim.logPath());
        words.erase(words.begin(), words.begin() + static_cast<long>(before));
        while (!words.empty() && !isParameterWord(words.front().word)) words.erase(words.begin());
    }
    ASSERT_GE(words.size(), 17u);
    const uint16_t codes[] = {3000, 3010, 3020, 3030, 3040, 3050, 3060, 3065, 3070,
                              3100, 3200, 3300, 3600, 3900, 4200, 4500};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(codes[i], words[i].word - savedValue(image, codes[i])) << i;
    }
    // One word per 47 ms tick; two per tick would halve the span. Single
    // ticks may bunch on a busy machine, so only the span is held to it.
    EXPECT_GE(words[15].seconds - words[0].seconds, 0.6) << "one word per tick";
    EXPECT_EQ(3150, words[9].word);
    EXPECT_EQ(65050, words[16].word) << "the confirmation follows";
    EXPECT_EQ("", messageBox(PROGRAM_TITLE, "stop", 2500));

    command(2016);  // 10 s roll: saved at once, in the start-up folder
    stop();
    EXPECT_FALSE(fs::exists(dir_ + "/files/Vantor.cnf"));
    start();
    stop();
    EXPECT_EQ(0, e2e::settingsField(dir_, 260)) << "the restart kept the roll period";
}

TEST_F(Parameters, ShortForeignOrCancelledFilesChangeNothing) {
    e2e::Simulator sim(1);
    start();
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    std::this_thread::sleep_for(1500ms);  // the device has answered: Save shows its dialog
    std::string empty = dir_ + "/empty.770";
    std::ofstream(empty).close();
    command(2010);
    answerFileDialog("Open", empty);
    EXPECT_EQ("Parameters could not be read.: 30003", messageBox("Error!", "stop"));

    std::string foreign = dir_ + "/foreign.770";
    std::string image(76, '\0');
    image[2] = static_cast<char>(150);  // limit1Setpoint 150 would write limit2Setpoint 50
    std::ofstream(foreign, std::ios::binary) << image;
    command(2010);
    answerFileDialog("Open", foreign);
    EXPECT_EQ("Not an ELQ770-file,\nreading of parameters aborted!", messageBox("Error!", "stop"));

    command(2010);
    cancelFileDialog("Open");
    command(2009);
    cancelFileDialog("Save As");
    EXPECT_EQ("", messageBox("Error!", "stop", 1000));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(parameterWords(sim).empty());
    EXPECT_EQ(std::vector<std::string>{}, [&] {
        std::vector<std::string> saved;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().extension() == ".770" && entry.path() != empty && entry.path() != foreign)
                saved.push_back(entry.path().string());
        return saved;
    }()) << "a cancelled save writes no file";
}

// A refused entry keeps the sheet open on its page, with the standing value
// focused and selected, and sends nothing: OK with the entry still in the
// box (Enter), and OK clicked, which takes the focus from the box first, so
// that the box has already put its standing value back.
TEST_F(Parameters, ARefusedEntryKeepsTheSheetOnItsPageWhetherOkIsPressedOrClicked) {
    e2e::Simulator sim(1, {"--param", "3100=60", "--param", "4500=90"});
    start();
    ASSERT_TRUE(openSheet());
    e2e::probe({"set-text", SHEET, "1011", "100"});
    e2e::probe({"post", SHEET, ".", std::to_string(WM_COMMAND), std::to_string(IDOK), "0"});
    std::this_thread::sleep_for(1000ms);
    ASSERT_TRUE(e2e::waitWindow(SHEET, 1000).found) << "the sheet stays open";
    EXPECT_EQ("60", textOf(1011));
    EXPECT_NE(std::string::npos, e2e::probe({"focus-of", SHEET}).find("Edit 1011")) << "the box has the focus";

    showPage(2);
    focus(1030);
    ASSERT_NE(std::string::npos, e2e::probe({"focus-of", SHEET}).find("Edit 1030"));
    e2e::probe({"set-text", SHEET, "1030", "30"});
    e2e::probe({"click-button", SHEET, std::to_string(IDOK)});
    std::this_thread::sleep_for(1000ms);
    ASSERT_TRUE(e2e::waitWindow(SHEET, 1000).found) << "the click closed the sheet";
    EXPECT_EQ("90", textOf(1030));
    EXPECT_NE(std::string::npos, e2e::probe({"focus-of", SHEET}).find("Edit 1030")) << "on the Setup page, in the box";
    EXPECT_EQ(std::to_string(2 << 16), e2e::trimmedLine(e2e::probe({"send", SHEET, "1030", std::to_string(EM_GETSEL), "0", "0"})))
        << "the whole text selected";
    EXPECT_TRUE(parameterWords(sim).empty());
    e2e::probe({"post", SHEET, ".", std::to_string(WM_COMMAND), "2", "0"});  // Cancel
    e2e::probe({"wait-gone", SHEET, "10000"});
}

// Before the device has answered the record is all zeros: Save writes no
// file, and files whose values no sheet would allow never reach the device.
TEST_F(Parameters, ZeroAndOutOfRangeRecordsNeverReachTheDevice) {
    e2e::Simulator sim(1, {"--no-answer"});
    start();
    command(2009);
    EXPECT_EQ("No connection to unit.", messageBox(PROGRAM_TITLE, "information"));
    EXPECT_FALSE(e2e::waitWindow("title=Save As", 500).found);

    std::string zero = dir_ + "/zero.770";
    std::ofstream(zero, std::ios::binary) << std::string(76, '\0');
    std::string lowP1Max = dir_ + "/p1max30.770";
    std::string image(76, '\0');
    const int minimumOffsets[][2] = {{0, 1}, {2, 5}, {10, 1}, {12, 5}, {26, 1}, {28, 30}};  // p1Max 30 last
    for (const auto& field : minimumOffsets) image[field[0]] = static_cast<char>(field[1]);
    std::ofstream(lowP1Max, std::ios::binary) << image;
    for (const std::string& file : {zero, lowP1Max}) {
        command(2010);
        answerFileDialog("Open", file);
        EXPECT_EQ("Not an ELQ770-file,\nreading of parameters aborted!", messageBox("Error!", "stop")) << file;
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(parameterWords(sim).empty());
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_))
        if (entry.path().extension() == ".770") files.insert(entry.path().filename().string());
    EXPECT_EQ((std::set<std::string>{"p1max30.770", "zero.770"}), files) << "no file saved";
}

// A folder outside the ANSI code page: the file is saved there and loads back.
TEST_F(Parameters, FilesInAFolderOutsideTheAnsiCodePage) {
    e2e::Simulator sim(1, {"--param", "3100=55"});
    start();
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    std::this_thread::sleep_for(1500ms);
    std::string folder = dir_ + "/\xC5\x81\xC3\xB3" "d\xC5\xBA";  // "Łódź"
    fs::create_directory(folder);
    std::string file = folder + "/unit.770";
    command(2009);
    ASSERT_TRUE(e2e::waitWindow("title=Save As", 10000).found);
    e2e::probe({"set-text-w", "title=Save As", std::to_string(FILE_NAME_EDIT), e2e::winPath(file)});
    pressOk("title=Save As");
    ASSERT_TRUE(e2e::waitForFile(file, 5000)) << "no file in the folder";
    EXPECT_EQ("", messageBox("Error!", "stop", 1000));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(55, savedValue(e2e::readFile(file), 3100));

    command(2010);
    ASSERT_TRUE(e2e::waitWindow("title=Open", 10000).found);
    e2e::probe({"set-text-w", "title=Open", std::to_string(FILE_NAME_EDIT), e2e::winPath(file)});
    pressOk("title=Open");
    EXPECT_TRUE(sim.waitForWord(3155, 5000)) << "the loaded setpoint goes out";
}

}  // namespace
