#pragma once
// What the capture control builds its graph from: the filter graph with its media control and
// event interface, the capture graph builder, the sample grabber and the video renderer with
// its window. The graph is the sink of the capture device's streaming thread and passes every
// frame on to the grabber and the renderer; everything else runs on the GUI thread, and only
// while the graph is stopped do its filters change.
#include <QWidget>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/vcap.h"

namespace capture {

using platform::video::MediaType;

class TVideoRenderer;

class TSampleGrabber {
 public:
  // The format the grabber asks of its input; without one it takes what comes.
  void SetMediaType(const MediaType& mt);
  // Connects to an upstream output: 24-bit frames pass as they are, a request for 32 bits is
  // met by widening each frame here; any other request cannot be met.
  HRESULT Connect(const MediaType& upstream);
  bool GetConnectedMediaType(MediaType& mt) const;
  void SetBufferSamples(bool buffer) { bufferSamples_ = buffer; }
  void SetOneShot(bool oneShot) { oneShot_ = oneShot; }
  // `whichMethod` 1: the callback's buffer method is called for every frame.
  void SetCallback(TSampleGrabberCB* callback, int whichMethod);

  // Streaming thread.
  void Receive(const platform::video::Frame& frame);

 private:
  MediaType requested_;
  bool hasRequest_ = false;
  MediaType connected_;
  bool isConnected_ = false;
  bool bufferSamples_ = false;
  bool oneShot_ = false;
  std::atomic<TSampleGrabberCB*> callback_{nullptr};
  int whichMethod_ = 0;
  std::vector<uint8_t> widened_;  // streaming thread only
};

class TFilterGraph : public platform::video::FrameSink {
 public:
  TFilterGraph();
  ~TFilterGraph() override;

  void AddSource(platform::video::VideoDevice* device, const std::string& name);
  platform::video::VideoDevice* Source() const { return source_; }
  void AddSmartTee(const std::string& name);
  bool HasSmartTee() const { return hasTee_; }
  TSampleGrabber* FindGrabber(const std::string& name) const;
  TSampleGrabber* AddGrabber(const std::string& name);
  void RemoveGrabber();
  TVideoRenderer* AddRenderer();
  TVideoRenderer* Renderer() const { return renderer_.get(); }
  // Every filter after the source (the whole downstream tree) leaves the graph.
  void RemoveDownstream();
  // The graph's filters by name, in the order they joined.
  std::vector<std::string> FilterNames() const;

  // Media control: running streams the source into the graph.
  HRESULT Run();
  HRESULT Stop();
  bool Running() const { return running_; }

  // Event interface: events are queued and the notify window gets WM_FGNOTIFY.
  void SetNotifyWindow(TVideoCapture* owner);
  bool GetEvent(int32_t& code, intptr_t& param1, intptr_t& param2);
  void PostEvent(int32_t code, intptr_t param1 = 0, intptr_t param2 = 0);

  // FrameSink: the streaming thread.
  void Receive(const platform::video::Frame& frame) override;
  void DeviceLost() override;

 private:
  struct Event {
    int32_t code;
    intptr_t p1, p2;
  };
  platform::video::VideoDevice* source_ = nullptr;
  std::string sourceName_;
  bool hasTee_ = false;
  std::string teeName_;
  std::unique_ptr<TSampleGrabber> grabber_;
  std::string grabberName_;
  std::unique_ptr<TVideoRenderer> renderer_;
  bool running_ = false;

  std::mutex eventLock_;
  std::deque<Event> events_;
  TVideoCapture* notify_ = nullptr;  // guarded by eventLock_
};

class TCaptureGraphBuilder {
 public:
  void SetFiltergraph(TFilterGraph* graph) { graph_ = graph; }
  TFilterGraph* Filtergraph() const { return graph_; }
  // The format on the output of a filter of the graph.
  HRESULT OutputType(TGraphNode node, MediaType& mt) const;
  // Connects `from` to the grabber, or to the renderer when `toRenderer` holds.
  HRESULT RenderStream(TGraphNode from, bool toRenderer);

 private:
  TFilterGraph* graph_ = nullptr;
};

// The video renderer: keeps the newest frame for the video window, upright.
class TVideoRenderer {
 public:
  // Streaming thread: copies the frame and asks the window to show it.
  void Receive(const platform::video::Frame& frame);
  // GUI thread, while the graph is stopped: the control that is told of new frames.
  void SetOwner(TVideoCapture* owner) { owner_.store(owner, std::memory_order_release); }
  // GUI thread: swaps in the newest frame, if one came since the last call.
  bool TakeFrame(std::vector<uint8_t>& pixels, int& width, int& height);

 private:
  std::mutex lock_;
  std::vector<uint8_t> back_;  // top-down 24-bit rows, stride 3 * width rounded to 4
  int width_ = 0, height_ = 0;
  bool fresh_ = false;
  std::atomic<bool> repaintPending_{false};
  std::atomic<TVideoCapture*> owner_{nullptr};
};

// The renderer's window, a child of the control: paints the newest frame stretched to its
// size; mouse input goes through to the control.
class TVideoWindow : public QWidget {
  Q_OBJECT
 public:
  TVideoWindow(TVideoCapture* owner, TVideoRenderer* renderer);
  ~TVideoWindow() override;
  void Detach();
  bool HasFrame() const { return width_ > 0; }
  // Takes the renderer's newest frame and repaints.
  void RefreshFrame();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TVideoRenderer* renderer_;
  std::vector<uint8_t> front_;
  int width_ = 0, height_ = 0;
};

}  // namespace capture
