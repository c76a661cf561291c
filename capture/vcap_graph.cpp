#include "capture/vcap_graph.h"

#include <QImage>
#include <QPainter>
#include <cstring>

namespace capture {

using namespace platform::video;

// ---- sample grabber ----

void TSampleGrabber::SetMediaType(const MediaType& mt) {
  requested_ = mt;
  hasRequest_ = true;
}

HRESULT TSampleGrabber::Connect(const MediaType& upstream) {
  if (upstream.majortype != kMediaTypeVideo || !upstream.HasVideoHeader() || upstream.subtype != kSubtypeRGB24) {
    return VFW_E_CANNOT_CONNECT;
  }
  MediaType mt = upstream;
  if (hasRequest_) {
    if (requested_.majortype != kMediaTypeVideo) return VFW_E_CANNOT_CONNECT;
    if (requested_.subtype == kSubtypeRGB32) {
      mt.subtype = kSubtypeRGB32;
      mt.bmiHeader.biBitCount = 32;
      mt.bmiHeader.biSizeImage = static_cast<uint32_t>(DibImageSize(mt.bmiHeader));
    } else if (requested_.subtype != kSubtypeRGB24) {
      // Palettised and 16-bit frames would need a converter this graph does not have.
      return VFW_E_CANNOT_CONNECT;
    }
  }
  connected_ = mt;
  isConnected_ = true;
  return S_OK;
}

bool TSampleGrabber::GetConnectedMediaType(MediaType& mt) const {
  if (!isConnected_) return false;
  mt = connected_;
  return true;
}

void TSampleGrabber::SetCallback(TSampleGrabberCB* callback, int whichMethod) {
  whichMethod_ = whichMethod;
  callback_.store(callback, std::memory_order_release);
}

void TSampleGrabber::Receive(const Frame& frame) {
  TSampleGrabberCB* cb = callback_.load(std::memory_order_acquire);
  if (cb == nullptr) return;
  const uint8_t* data = frame.data;
  size_t length = frame.length;
  if (connected_.bmiHeader.biBitCount == 32 && frame.header.biBitCount == 24) {
    const int w = frame.header.biWidth;
    const int rows = std::abs(frame.header.biHeight);
    const size_t inStride = DibStride(w, 24);
    if (frame.length < inStride * static_cast<size_t>(rows)) return;
    widened_.resize(DibStride(w, 32) * static_cast<size_t>(rows));
    for (int y = 0; y < rows; ++y) {
      const uint8_t* s = frame.data + inStride * static_cast<size_t>(y);
      uint8_t* d = widened_.data() + DibStride(w, 32) * static_cast<size_t>(y);
      for (int x = 0; x < w; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0;
      }
    }
    data = widened_.data();
    length = widened_.size();
  }
  if (whichMethod_ == 1) {
    cb->BufferCB(frame.sampleTime, data, static_cast<int32_t>(std::min<size_t>(length, INT32_MAX)));
  } else {
    cb->SampleCB(frame.sampleTime, data);
  }
}

// ---- filter graph ----

TFilterGraph::TFilterGraph() = default;

TFilterGraph::~TFilterGraph() {
  Stop();
  RemoveDownstream();
}

void TFilterGraph::AddSource(VideoDevice* device, const std::string& name) {
  source_ = device;
  sourceName_ = name;
}

void TFilterGraph::AddSmartTee(const std::string& name) {
  hasTee_ = true;
  teeName_ = name;
}

TSampleGrabber* TFilterGraph::FindGrabber(const std::string& name) const {
  return grabber_ && grabberName_ == name ? grabber_.get() : nullptr;
}

TSampleGrabber* TFilterGraph::AddGrabber(const std::string& name) {
  grabber_ = std::make_unique<TSampleGrabber>();
  grabberName_ = name;
  return grabber_.get();
}

void TFilterGraph::RemoveGrabber() {
  grabber_.reset();
  grabberName_.clear();
}

TVideoRenderer* TFilterGraph::AddRenderer() {
  if (!renderer_) renderer_ = std::make_unique<TVideoRenderer>();
  return renderer_.get();
}

void TFilterGraph::RemoveDownstream() {
  renderer_.reset();
  RemoveGrabber();
  hasTee_ = false;
  teeName_.clear();
}

std::vector<std::string> TFilterGraph::FilterNames() const {
  std::vector<std::string> names;
  if (source_) names.push_back(sourceName_);
  if (hasTee_) names.push_back(teeName_);
  if (grabber_) names.push_back(grabberName_);
  if (renderer_) names.push_back("Video Renderer");
  return names;
}

HRESULT TFilterGraph::Run() {
  if (running_) return S_OK;
  if (source_ == nullptr) return E_UNEXPECTED;
  const HRESULT hr = source_->Start(*this);
  if (Succeeded(hr)) running_ = true;
  return hr;
}

HRESULT TFilterGraph::Stop() {
  if (source_ != nullptr) source_->Stop();
  running_ = false;
  return S_OK;
}

void TFilterGraph::SetNotifyWindow(TVideoCapture* owner) {
  std::lock_guard lock(eventLock_);
  notify_ = owner;
}

bool TFilterGraph::GetEvent(int32_t& code, intptr_t& param1, intptr_t& param2) {
  std::lock_guard lock(eventLock_);
  if (events_.empty()) return false;
  code = events_.front().code;
  param1 = events_.front().p1;
  param2 = events_.front().p2;
  events_.pop_front();
  return true;
}

void TFilterGraph::PostEvent(int32_t code, intptr_t param1, intptr_t param2) {
  std::lock_guard lock(eventLock_);
  events_.push_back(Event{code, param1, param2});
  if (notify_ != nullptr) notify_->PostMessage(TWMSampleCaptured{WM_FGNOTIFY, nullptr, 0, 0});
}

void TFilterGraph::Receive(const Frame& frame) {
  if (grabber_) grabber_->Receive(frame);
  if (renderer_) renderer_->Receive(frame);
}

void TFilterGraph::DeviceLost() { PostEvent(EC_DEVICE_LOST); }

// ---- builder ----

HRESULT TCaptureGraphBuilder::OutputType(TGraphNode node, MediaType& mt) const {
  if (graph_ == nullptr || graph_->Source() == nullptr) return E_UNEXPECTED;
  if (node == TGraphNode::Grabber) {
    TSampleGrabber* g = graph_->FindGrabber("MyBitmapGrabber");
    return g && g->GetConnectedMediaType(mt) ? S_OK : VFW_E_CANNOT_CONNECT;
  }
  // Capture pin and smart tee: the device's frames as they leave it (24-bit, bottom-up).
  MediaType current;
  const HRESULT hr = graph_->Source()->GetFormat(current);
  if (Failed(hr)) return hr;
  mt = current;
  mt.subtype = kSubtypeRGB24;
  mt.bmiHeader = Rgb24Header(current.bmiHeader.biWidth, std::abs(current.bmiHeader.biHeight));
  return S_OK;
}

HRESULT TCaptureGraphBuilder::RenderStream(TGraphNode from, bool toRenderer) {
  if (graph_ == nullptr) return E_UNEXPECTED;
  MediaType upstream;
  const HRESULT hr = OutputType(from, upstream);
  if (Failed(hr)) return hr;
  if (toRenderer) {
    graph_->AddRenderer();
    return S_OK;
  }
  TSampleGrabber* g = graph_->FindGrabber("MyBitmapGrabber");
  return g ? g->Connect(upstream) : E_UNEXPECTED;
}

// ---- renderer and its window ----

void TVideoRenderer::Receive(const Frame& frame) {
  const BitmapInfoHeader& h = frame.header;
  if (h.biBitCount != 24 || h.biWidth <= 0 || h.biHeight == 0) return;
  const int w = h.biWidth;
  const int rows = std::abs(h.biHeight);
  const size_t stride = DibStride(w, 24);
  if (frame.length < stride * static_cast<size_t>(rows)) return;
  {
    std::lock_guard lock(lock_);
    back_.resize(stride * static_cast<size_t>(rows));
    for (int y = 0; y < rows; ++y) {
      const int src = h.biHeight > 0 ? rows - 1 - y : y;  // bottom-up frames turn upright
      std::memcpy(back_.data() + stride * static_cast<size_t>(y), frame.data + stride * static_cast<size_t>(src),
                  stride);
    }
    width_ = w;
    height_ = rows;
    fresh_ = true;
  }
  TVideoCapture* owner = owner_.load(std::memory_order_acquire);
  if (owner != nullptr && !repaintPending_.exchange(true, std::memory_order_acq_rel)) {
    owner->PostMessage(TWMSampleCaptured{WM_VIDEOFRAME, this, 0, 0});
  }
}

bool TVideoRenderer::TakeFrame(std::vector<uint8_t>& pixels, int& width, int& height) {
  repaintPending_.store(false, std::memory_order_release);
  std::lock_guard lock(lock_);
  if (!fresh_) return false;
  pixels.swap(back_);
  width = width_;
  height = height_;
  fresh_ = false;
  return true;
}

TVideoWindow::TVideoWindow(TVideoCapture* owner, TVideoRenderer* renderer) : QWidget(owner), renderer_(renderer) {
  setObjectName("VideoWindow");
  setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks belong to the control
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (renderer_) renderer_->SetOwner(owner);
}

TVideoWindow::~TVideoWindow() { Detach(); }

void TVideoWindow::Detach() {
  if (renderer_) renderer_->SetOwner(nullptr);
  renderer_ = nullptr;
}

void TVideoWindow::RefreshFrame() {
  if (renderer_ && renderer_->TakeFrame(front_, width_, height_)) update();
}

void TVideoWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (width_ <= 0 || front_.empty()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  const QImage image(front_.data(), width_, height_, static_cast<qsizetype>(DibStride(width_, 24)),
                     QImage::Format_BGR888);
  painter.drawImage(rect(), image);
}

}  // namespace capture
