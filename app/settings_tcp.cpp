// The TCP result server of the settings window: other programs register their names, fetch
// the measurement line and the pictures of the main window, and may have a picture stored as
// QUIRVELSTREAM.bmp in a folder they name.
//
// The handlers run on the connections' threads. The client table changes only under
// ContextLock; everything of the windows (log, grid, status panel, measurement line, pictures)
// is read or changed on the GUI thread through Connection::RunOnGuiThread, which also lets the
// server stop while a handler waits. Pictures are encoded, files written and bytes sent on the
// connection's own thread.
#include <sys/stat.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <stdexcept>
#include <string_view>

#include "analysis/myimage_filters.h"
#include "app/hr_main.h"
#include "app/settings.h"
#include "platform/base/cp1252.h"
#include "platform/base/text_file.h"
#include "platform/image/bmp_codec.h"
#include "platform/net/tcp_server.h"

namespace app {
namespace {

using platform::net::Connection;

constexpr const char* kStreamFile = "QUIRVELSTREAM.bmp";

bool StartsWith(const std::string& line, std::string_view prefix) { return line.compare(0, prefix.size(), prefix) == 0; }

// What a client tells about itself is kept as the 8-bit text it always was, at most 255
// characters.
std::string ClientText(const std::string& text) {
  std::string bytes = platform::Utf8ToCp1252(text);
  if (bytes.size() > 255) bytes.resize(255);
  return platform::Cp1252ToUtf8(bytes);
}

// Why a folder a client names for QUIRVELSTREAM.bmp is refused; empty when it is accepted.
// Any peer on the network may send the name: only an existing folder given from the root,
// without a way up out of it, is written into.
std::string FolderRefusal(const std::string& folder) {
  if (folder.empty()) return "no folder named";
  if (folder.find('\0') != std::string::npos) return "not a folder name";
  if (folder.front() != '/') return "not an absolute folder";
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    if (folder.compare(start, end - start, "..") == 0) return "the folder has a \"..\" part";
    start = end + 1;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "no such folder";
  return {};
}

// A picture as it is shown: the control's bitmap, or its toolkit picture (converted on the
// connection's thread).
struct ShownPicture {
  platform::Bitmap bitmap;
  QImage image;
  static ShownPicture Of(const TImage& control) {
    ShownPicture p;
    if (const platform::Bitmap* b = control.BitmapPicture()) {
      p.bitmap = *b;
    } else {
      p.image = control.Image();
    }
    return p;
  }
  platform::Bitmap Bitmap() && { return image.isNull() ? std::move(bitmap) : ImageToBitmap(image); }
};

// The bitmap file of a picture; an empty picture is no bytes at all.
std::vector<uint8_t> BitmapFile(const platform::Bitmap& picture) {
  return picture.Empty() ? std::vector<uint8_t>() : platform::EncodeBmp(picture);
}

}  // namespace

void TFrmSettings::CreateServer() {
  IdTCPServer1 = std::make_unique<platform::net::TcpServer>();
  IdTCPServer1->events.OnConnect = [this](Connection& c) { IdTCPServer1Connect(c); };
  IdTCPServer1->events.OnDisconnect = [this](Connection& c) { IdTCPServer1Disconnect(c); };
  IdTCPServer1->events.OnExecute = [this](Connection& c) { IdTCPServer1Execute(c); };
  IdTCPServer1->events.OnException = [this](Connection& c, const std::string& what) {
    // The connection ends after this; the operator sees why in the log.
    const std::string line = "Error (" + c.PeerIP() + "): " + what;
    c.RunOnGuiThread([&] { Log(line); });
  };
}

TFrmSettings::ClientTable TFrmSettings::Clients() const {
  std::lock_guard lock(ContextLock);
  return {MyContext, ContextIndex, LastContext};
}

void TFrmSettings::ClearContext(int i, std::shared_ptr<Connection> Context) {
  MyContext[static_cast<size_t>(i)] = TMyContext{std::move(Context), {}, {}, {}, {}};
}

int TFrmSettings::FindContext(const Connection& c, int count) const {
  for (int i = 0; i < count; ++i) {
    if (MyContext[static_cast<size_t>(i)].aContext.get() == &c) return i;
  }
  return -1;
}

void TFrmSettings::Log(const std::string& line) { TCPIPMemo->appendPlainText(QString::fromUtf8(line)); }

void TFrmSettings::IdTCPServer1Connect(Connection& AContext) {
  bool maximum = false;
  {
    std::lock_guard lock(ContextLock);
    // Only a free slot takes a connection. Later ones (the server admits up to ten) are
    // logged and never answered, nor moved into the table when a slot frees.
    if (ContextIndex < static_cast<int32_t>(MyContext.size())) {
      ClearContext(ContextIndex, AContext.shared_from_this());
      MyContext[static_cast<size_t>(ContextIndex)].aIP = AContext.PeerIP();
      ++ContextIndex;
      maximum = ContextIndex == NUMCON;
    }
  }
  AContext.RunOnGuiThread([&] { Log("Connected: " + AContext.PeerIP()); });
  if (maximum) {
    // The box waits for the operator; the connection does not wait for the box.
    platform::ui::Services().Post([] { platform::ui::Services().ShowMessage("Maximum Clients connected!"); });
  }
  AContext.RunOnGuiThread([&] { RedrawTable(); });
  std::lock_guard lock(ContextLock);
  LastContext = ContextIndex;
}

void TFrmSettings::IdTCPServer1Disconnect(Connection& AContext) {
  {
    std::lock_guard lock(ContextLock);
    // Every slot is searched: a client listed in the last one must leave the table too.
    const int i = FindContext(AContext, static_cast<int>(MyContext.size()));
    if (i >= 0) {
      for (size_t k = static_cast<size_t>(i); k + 1 < MyContext.size(); ++k) MyContext[k] = std::move(MyContext[k + 1]);
      ClearContext(static_cast<int>(MyContext.size()) - 1, nullptr);
      --ContextIndex;
      LastContext = -1;
    }
  }
  AContext.RunOnGuiThread([&] {
    Log("Disconnected: " + AContext.PeerIP());
    RedrawTable();
  });
}

void TFrmSettings::IdTCPServer1Execute(Connection& AContext) {
  const std::string line = AContext.ReadLine();
  AContext.RunOnGuiThread([&] { Log("Message: " + line); });
  int slot = -1;
  {
    std::lock_guard lock(ContextLock);
    slot = FindContext(AContext, NUMCON);
    LastContext = slot;
  }
  if (slot >= 0) Command(AContext, line);
  AContext.RunOnGuiThread([&] { RedrawTable(); });
}

void TFrmSettings::SetClientText(Connection& c, std::string TMyContext::*field, const std::string& text) {
  std::lock_guard lock(ContextLock);
  // Looked up again: another client's leaving may have moved this one up meanwhile.
  const int i = FindContext(c, NUMCON);
  if (i >= 0) MyContext[static_cast<size_t>(i)].*field = ClientText(text);
}

void TFrmSettings::Command(Connection& c, const std::string& line) {
  // The window's state, on the GUI thread only.
  auto main = [this]() -> THRMainFrm& {
    if (!main_) throw std::runtime_error("the main window is not there");
    return *main_;
  };
  auto measurement = [&] {
    std::string m;
    c.RunOnGuiThread([&] { m = main().GetMessString(); });
    return m;
  };
  // The folder of the three save commands starts at the tenth character.
  const std::string folder = line.size() > 9 ? line.substr(9) : std::string();

  if (StartsWith(line, "Networkname:")) {
    SetClientText(c, &TMyContext::aNetworkname, line.substr(12));
  } else if (StartsWith(line, "User:")) {
    SetClientText(c, &TMyContext::aUser, line.substr(5));
  } else if (StartsWith(line, "LocalUser:")) {
    SetClientText(c, &TMyContext::aLocalUser, line.substr(10));
  } else if (StartsWith(line, "GetData")) {
    c.WriteLine("DATA:[" + measurement() + "]");
  } else if (StartsWith(line, "GetImg") || StartsWith(line, "SaveImg")) {
    // The display image smoothed twice becomes the shown picture.
    platform::Bitmap picture;
    c.RunOnGuiThread([&] {
      if (!main().st.dbmp) throw std::runtime_error("no display image");
      picture = *main().st.dbmp;
    });
    analysis::DrawSharp(picture);
    analysis::DrawSharp(picture);
    const std::vector<uint8_t> bytes = BitmapFile(picture);
    std::string m;
    c.RunOnGuiThread([&] {
      main().AnalyseImage->SetPicture(std::move(picture));
      m = main().GetMessString();
    });
    const bool saved = line[0] == 'S' && SaveStream(c, folder, bytes);
    TCPIPCopyImage(c, m, bytes);
    if (saved) c.WriteLine("SaveMessOK:[" + measurement() + "]");
  } else if (StartsWith(line, "GetGraph") || StartsWith(line, "SaveGraph")) {
    ShownPicture shown;
    std::string m;
    c.RunOnGuiThread([&] {
      shown = ShownPicture::Of(*main().StripImage);
      m = main().GetMessString();
    });
    const std::vector<uint8_t> bytes = BitmapFile(std::move(shown).Bitmap());
    if (line[0] == 'S') SaveStream(c, folder, bytes);
    TCPIPCopyImage(c, m, bytes);
  } else if (StartsWith(line, "GetMess")) {
    ShownPicture shown;
    std::string m;
    c.RunOnGuiThread([&] {
      shown = ShownPicture::Of(*main().AnalyseImage);
      m = main().GetMessString();
    });
    TCPIPCopyImage(c, m, BitmapFile(std::move(shown).Bitmap()));
    c.WriteLine("SaveMessOK:[" + measurement() + "]");
  } else if (StartsWith(line, "SaveMess")) {
    ShownPicture shown;
    c.RunOnGuiThread([&] { shown = ShownPicture::Of(*main().AnalyseImage); });
    if (SaveStream(c, folder, BitmapFile(std::move(shown).Bitmap()))) c.WriteLine("SaveMessOK:[" + measurement() + "]");
  }
}

bool TFrmSettings::SaveStream(Connection& c, const std::string& folder, const std::vector<uint8_t>& bmp) {
  const std::string refusal = FolderRefusal(folder);
  if (!refusal.empty()) {
    c.RunOnGuiThread([&] { Log("Not saved into \"" + folder + "\": " + refusal); });
    return false;
  }
  std::string target = folder;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  if (target != "/") target += '/';
  // A new file renamed over the name: a client reading it never sees half a picture, and a
  // link of that name is replaced instead of written through. A failed write ends the
  // connection (no reply follows), with the reason in the log.
  platform::ReplaceFile(target + kStreamFile, std::span<const uint8_t>(bmp));
  return true;
}

void TFrmSettings::TCPIPCopyImage(Connection& AContext, const std::string& s, const std::vector<uint8_t>& bmp) {
  AContext.WriteLine("IMAGE:[" + s + "]" + std::to_string(bmp.size()));
  if (!bmp.empty()) AContext.Write(std::span<const uint8_t>(bmp));
}

void TFrmSettings::RedrawTable() {
  const ClientTable t = Clients();
  static const char* const kHeads[4] = {"IP-Address", "Network Name", "User Login", "Local User"};
  for (int c = 0; c < 4; ++c) ConnectionsGrid->item(0, c)->setText(kHeads[c]);
  for (size_t i = 0; i < t.MyContext.size(); ++i) {
    const TMyContext& slot = t.MyContext[i];
    const int row = static_cast<int>(i) + 1;
    ConnectionsGrid->item(row, 0)->setText(Q(slot.aIP));
    ConnectionsGrid->item(row, 1)->setText(Q(slot.aNetworkname));
    ConnectionsGrid->item(row, 2)->setText(Q(slot.aUser));
    ConnectionsGrid->item(row, 3)->setText(Q(slot.aLocalUser));
  }
  if (t.LastContext >= 0 && t.LastContext + 1 < ConnectionsGrid->rowCount()) ConnectionsGrid->selectRow(t.LastContext + 1);
  if (!main_) return;
  QString status = "NC";
  if (IdTCPServer1->Active()) {
    status = "TCPIP";
    for (const TMyContext& slot : t.MyContext) {
      if (slot.aContext && slot.aContext->Connected()) status = "TCPIP-con";
    }
  }
  main_->StatusBar1->SetPanelText(7, status);
}

void TFrmSettings::TCPIPActivateClick() {
  auto status = [this](const char* text) {
    if (main_) main_->StatusBar1->SetPanelText(7, text);
  };
  if (!TCPIPActivate->isChecked()) {
    DisconnectAllClients();
    status("NC");
    return;
  }
  try {
    IdTCPServer1->Start();
  } catch (const std::exception& e) {
    // A switch that starts nothing must not look on: the box goes back and the operator
    // learns why. Not thrown: the start-up runs this in the middle of its own work.
    TCPIPActivate->setChecked(false);
    status("NC");
    platform::ui::Services().MessageBox("The TCP result server cannot start: " + std::string(e.what()), "QUIRVEL",
                                        platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Error);
    return;
  }
  status("TCPIP");
}

void TFrmSettings::DisconnectAllClients() {
  if (!IdTCPServer1) return;
  IdTCPServer1->Stop();
  // Every connection's leaving has tidied the table; the grid shows it empty.
  if (platform::ui::Services().IsGuiThread()) RedrawTable();
}

void TFrmSettings::TCPIPTestClick() {
  if (platform::net::isTCPIP()) {
    IPAddressLabel->setText(Q(platform::net::GetIPAddress()));
  } else {
    platform::ui::Services().MessageBox("WARNING: no TCPIP installed!", "QUIRVEL", platform::ui::MsgButtons::Ok,
                                        platform::ui::MsgKind::Warning);
  }
}

}  // namespace app
