// The TCP result server of the settings window end to end: a Python client (standard library
// only) speaks to the running main window over loopback while the test thread serves the GUI
// thread's share of the work, as the event loop does in the program.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTableWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "app/tests/main_window_fixture.h"
#include "cmake/test_tools.h"
#include "platform/image/bmp_codec.h"

namespace app {
namespace {

namespace fs = std::filesystem;
const std::string kData = QUIRVEL_TEST_DATA;
const std::string kHome = QUIRVEL_BUILD_HOME;

class ResultServerTest : public test::MainWindowTest {
 protected:
  ResultServerTest() {
    Create();
    Activate();
  }
  void Serve() {
    ui.ProcessPending();
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  void StartServer() {
    settings.TCPIPActivate->setChecked(true);
    settings.TCPIPActivateClick();
    ASSERT_TRUE(settings.Server().Active());
  }

  // Runs the client's steps (one per string, fields separated by TAB) and gives its output
  // lines; `each` runs on this thread between the pieces of GUI work.
  std::vector<std::string> RunClient(const std::vector<std::string>& steps, const std::function<void()>& each = {}) {
    const std::string script = home / "client.txt";
    std::string text;
    for (const std::string& s : steps) text += s + "\n";
    test::WriteText(script, text);
    quirvel::testing::ToolResult result;
    std::atomic<bool> done{false};
    std::thread client([&] {
      result = quirvel::testing::RunTool("python3 '" + kData + "/result_client.py' " +
                                         std::to_string(settings.Server().Port()) + " '" + script + "'");
      done = true;
    });
    while (!done) {
      Serve();
      if (each) each();
    }
    client.join();
    ui.ProcessPending();
    EXPECT_EQ(result.exit_code, 0) << result.output;
    std::vector<std::string> lines;
    std::istringstream in(result.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Serves until every connection has ended and left the table.
  void WaitForNoClients() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((settings.Server().ConnectionCount() > 0 || settings.Clients().ContextIndex > 0) &&
           std::chrono::steady_clock::now() < deadline) {
      Serve();
    }
    ui.ProcessPending();
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::istringstream in(settings.TCPIPMemo->toPlainText().toStdString());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string Cell(int row, int column) const { return S(settings.ConnectionsGrid->item(row, column)->text()); }

  void Load(const std::string& path) {
    ui.QueueOpenFile(path);
    frm->Loadbtn->click();
  }

  // The picture a control shows, as 24-bit rows top to bottom.
  static platform::Bitmap Shown(const TImage& image) {
    if (const platform::Bitmap* b = image.BitmapPicture()) return *b;
    return ImageToBitmap(image.Image());
  }

  // The rows of a bitmap without their padding: what the client wrote as FILE.rgb.
  static std::string Rows(const platform::Bitmap& b) {
    std::string rows;
    for (int y = 0; y < b.Height(); ++y) rows.append(reinterpret_cast<const char*>(b.ScanLine(y)), 3 * b.Width());
    return rows;
  }
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(ResultServerTest, CommandsRepliesPicturesAndTheFoldersAClientMayName) {
  Load(kHome + "/Images/sample_plate.qvr");
  ASSERT_EQ(frm->GetMessString(), "A\t\t");
  const platform::Bitmap before = Shown(*frm->AnalyseImage);
  StartServer();

  const std::string dir = home / "out", outside = home / "x", linked = home / "linked";
  fs::create_directories(dir);
  fs::create_directories(outside);
  fs::create_directories(linked);
  const std::string target = home / "target.bmp";
  test::WriteText(target, "kept");
  fs::create_symlink(target, linked + "/QUIRVELSTREAM.bmp");
  const std::string mess = home / "mess.bmp", img = home / "img.bmp", graph = home / "graph.bmp";

  std::vector<std::string> row;
  QString status;
  const std::vector<std::string> out = RunClient(
      {"connect\ta", "send\ta\tNetworkname:H\\n", "send\ta\tUser:u\\r\\n", "send\ta\tLocalUser:l\\n",
       "send\ta\tgetdata\\n", "send\ta\tGetData\\n", "line\ta", "silent\ta\t0.3", "send\ta\tGetDataX\\n", "line\ta",
       "send\ta\tGetMess\\n", "image\ta\t" + mess, "line\ta", "send\ta\tGetGraph\\n", "image\ta\t" + graph,
       "send\ta\tSaveImg: " + dir + "\\n", "image\ta\t" + img, "line\ta",
       // Refused folders: nothing written, no "SaveMessOK"; the graph's picture reply still goes.
       "send\ta\tSaveMess " + dir + "/../x\\n", "send\ta\tSaveMess out\\n", "send\ta\tSaveMess " + dir + "/missing\\n",
       "send\ta\tSaveGraph" + dir + "/../x\\n", "image\ta\t" + graph, "send\ta\tGetData\\n", "line\ta",
       "send\ta\tSaveMess " + linked + "\\n", "line\ta", "send\ta\tGetData\\n", "line\ta"},
      [&] {
        if (row.empty() && Cell(1, 3) == "l") {
          row = {Cell(1, 0), Cell(1, 1), Cell(1, 2), Cell(1, 3)};
          status = frm->StatusBar1->PanelText(7);
        }
      });
  WaitForNoClients();

  const std::vector<std::string> expected = {
      "LINE a DATA:[A\\t\\t]",          // "getdata" got nothing, "GetData" this
      "SILENT a ok",
      "LINE a DATA:[A\\t\\t]",          // "GetDataX"
      "IMAGE a IMAGE:[A\\t\\t] ",       // "GetMess": size and dimensions checked below
      "LINE a SaveMessOK:[A\\t\\t]",
      "IMAGE a IMAGE:[A\\t\\t] 0 0 0",  // an empty graph
      "IMAGE a IMAGE:[A\\t\\t] 3932214 1280 1024",
      "LINE a SaveMessOK:[A\\t\\t]",
      "IMAGE a IMAGE:[A\\t\\t] 0 0 0",
      "LINE a DATA:[A\\t\\t]",
      "LINE a SaveMessOK:[A\\t\\t]",
      "LINE a DATA:[A\\t\\t]",
  };
  ASSERT_EQ(out.size(), expected.size()) << ::testing::PrintToString(out);
  for (size_t i = 0; i < out.size(); ++i) {
    if (i == 3) {
      EXPECT_EQ(out[i].rfind(expected[i], 0), 0u) << out[i];
    } else {
      EXPECT_EQ(out[i], expected[i]);
    }
  }

  // "GetMess": the picture as the analysis image showed it then (before "SaveImg" replaced it).
  // "SaveImg": the display image smoothed, shown now, and the very bytes of the file written.
  const std::string img_bytes = test::ReadText(img);
  EXPECT_EQ(img_bytes.size(), 3932214u);
  EXPECT_EQ(test::ReadText(dir + "/QUIRVELSTREAM.bmp"), img_bytes);
  EXPECT_EQ(test::ReadText(img + ".rgb"), Rows(Shown(*frm->AnalyseImage)));
  EXPECT_EQ(test::ReadText(mess + ".rgb"), Rows(before));
  EXPECT_EQ(out[3], "IMAGE a IMAGE:[A\\t\\t] " + std::to_string(test::ReadText(mess).size()) + " " +
                        std::to_string(before.Width()) + " " + std::to_string(before.Height()));

  // Nothing outside the named folder; the link was replaced, its target kept.
  EXPECT_FALSE(fs::exists(outside + "/QUIRVELSTREAM.bmp"));
  EXPECT_FALSE(fs::exists(dir + "/missing"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "out" / "QUIRVELSTREAM.bmp"));
  EXPECT_EQ(test::ReadText(target), "kept");
  EXPECT_FALSE(fs::is_symlink(linked + "/QUIRVELSTREAM.bmp"));
  EXPECT_EQ(test::ReadText(linked + "/QUIRVELSTREAM.bmp"), img_bytes);

  // What the window showed while the client was there, and its log.
  EXPECT_EQ(row, (std::vector<std::string>{"127.0.0.1", "H", "u", "l"}));
  EXPECT_EQ(status.toStdString(), "TCPIP-con");
  EXPECT_EQ(Cell(0, 1), "Network Name");
  EXPECT_EQ(Cell(1, 0), "");
  EXPECT_EQ(frm->StatusBar1->PanelText(7).toStdString(), "TCPIP");
  const std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log.front(), "Connected: 127.0.0.1");
  EXPECT_TRUE(Contains(log, "Message: getdata"));
  EXPECT_TRUE(Contains(log, "Message: User:u"));  // the CR before the LF dropped
  EXPECT_EQ(log.back(), "Disconnected: 127.0.0.1");
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("Not saved"); }), 4);

  // After a plate measurement the line carries the measurement.
  frm->AnalyzePlateBtn->click();
  const std::string line = frm->GetMessString();
  ASSERT_EQ(line[0], 'F');
  const std::vector<std::string> measured = RunClient({"connect\tb", "send\tb\tGetData\\n", "line\tb"});
  ASSERT_EQ(measured.size(), 1u);
  std::string shown = line;
  for (size_t p = 0; (p = shown.find('\t', p)) != std::string::npos; p += 2) shown.replace(p, 1, "\\t");
  EXPECT_EQ(measured[0], "LINE b DATA:[" + shown + "]");
}

TEST_F(ResultServerTest, FourSlotsTheFourthWaitsForAFreeServedSlotAndABurstLeavesNothingBehind) {
  StartServer();
  std::vector<std::string> steps;
  for (const char* c : {"c1", "c2", "c3"}) {
    steps.insert(steps.end(), {std::string("connect\t") + c, std::string("until\t") + c + "\tGetData\\n\t5"});
  }
  steps.insert(steps.end(), {"connect\tc4", "sleep\t0.3", "send\tc4\tGetData\\n", "silent\tc4\t0.5", "close\tc1",
                             "until\tc4\tGetData\\n\t5"});
  // Ten more at once: some are closed at once by the server, the others talk, break off in the
  // middle of a line, or ask for a picture and leave before it comes.
  for (int i = 0; i < 10; ++i) steps.push_back("connect\td" + std::to_string(i));
  for (int i = 0; i < 10; ++i) {
    const std::string d = "d" + std::to_string(i);
    steps.push_back("send\t" + d + (i % 3 == 0 ? "\tGetMess\\n" : i % 3 == 1 ? "\tNetworkname:half" : "\tGetData\\n"));
  }
  for (int i = 0; i < 10; ++i) steps.push_back("close\td" + std::to_string(i));
  steps.insert(steps.end(), {"send\tc2\tGetData\\n", "line\tc2"});

  int most = 0;
  const std::vector<std::string> out = RunClient(steps, [&] { most = std::max(most, settings.Clients().ContextIndex); });
  ASSERT_EQ(out.size(), 6u) << ::testing::PrintToString(out);
  EXPECT_EQ(out[0], "UNTIL c1 DATA:[A\\t\\t]");
  EXPECT_EQ(out[3], "SILENT c4 ok");
  EXPECT_EQ(out[4], "UNTIL c4 DATA:[A\\t\\t]");
  EXPECT_EQ(out[5], "LINE c2 DATA:[A\\t\\t]");
  EXPECT_EQ(most, 4);

  WaitForNoClients();
  const TFrmSettings::ClientTable t = settings.Clients();
  EXPECT_EQ(t.ContextIndex, 0);
  for (const TMyContext& slot : t.MyContext) EXPECT_EQ(slot.aContext, nullptr);
  for (int r = 1; r <= 4; ++r) EXPECT_EQ(Cell(r, 0), "") << r;
  // The box of the third client was posted, not waited for.
  int boxes = 0;
  for (const auto& m : ui.Messages()) boxes += m.plain && m.text == "Maximum Clients connected!";
  EXPECT_GE(boxes, 1);
}

TEST_F(ResultServerTest, TheSwitchStartsAndStopsARealServerAndABusyPortUnticksIt) {
  StartServer();
  EXPECT_EQ(frm->StatusBar1->PanelText(7).toStdString(), "TCPIP");
  const uint16_t port = settings.Server().Port();
  ASSERT_NE(port, 0);
  EXPECT_EQ(RunClient({"connect\ta", "send\ta\tGetData\\n", "line\ta"}).size(), 1u);

  settings.TCPIPActivate->setChecked(false);
  settings.TCPIPActivateClick();
  EXPECT_FALSE(settings.Server().Active());
  EXPECT_EQ(frm->StatusBar1->PanelText(7).toStdString(), "NC");

  // A port another program holds: the box goes back and says why.
  const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
  settings.Server().DefaultPort = ntohs(address.sin_port);
  settings.TCPIPActivate->setChecked(true);
  settings.TCPIPActivateClick();
  ::close(blocker);
  EXPECT_FALSE(settings.Server().Active());
  EXPECT_FALSE(settings.TCPIPActivate->isChecked());
  EXPECT_EQ(frm->StatusBar1->PanelText(7).toStdString(), "NC");
  ASSERT_FALSE(ui.Messages().empty());
  EXPECT_EQ(ui.Messages().back().text.rfind("The TCP result server cannot start", 0), 0u) << ui.Messages().back().text;
}

TEST_F(ResultServerTest, NetworkTestShowsTheAddress) {
  settings.TCPIPTest->click();
  const std::string address = S(settings.IPAddressLabel->text());
  EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
}

}  // namespace
}  // namespace app
