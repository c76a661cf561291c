#pragma once
// Real cameras through Video4Linux2 (libv4l2 over the kernel interface).
//
// Listing: every /dev/video<N> node that captures video and streams, under the card name the
// driver reports; its id is "v4l2:" and the bus the device hangs on (so it survives
// renumbering of the nodes and tells twin cameras on different ports apart), with "#k" for
// the k-th further capture node on the same bus. A machine without such nodes lists none.
//
// Modes: the camera's own YUYV and MJPEG formats (others are not offered) with every frame
// size and the range of frame times it names; frames are converted to 24-bit bottom-up
// bitmaps (frame_convert.h). The frame time is set through the streaming parameters.
// A node that vanishes (ENODEV) ends the stream with device loss.
//
// Vendor interfaces: a camera with any of the controls gain, absolute exposure, horizontal or
// vertical flip answers the sensor interface with those (the shutter step becomes an absolute
// exposure of 1 / kShutterExposure[step] s in 100 us units); everything it lacks answers
// E_NOTIMPL. It has no common interface.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/video/video_device.h"

namespace platform::video {

// `devDir` is the folder holding the device nodes (tests point it elsewhere).
std::shared_ptr<VideoBackend> CreateV4l2Backend(std::string devDir = "/dev");

// Absolute exposure, in the 100 us units of the V4L2 control, for a shutter step.
int32_t V4l2ExposureForShutter(int step);
// The shutter step whose exposure lies nearest to an absolute exposure.
int V4l2ShutterForExposure(int32_t exposure);
// Frame time in 100 ns units from a V4L2 time-per-frame fraction (seconds), and back.
int64_t V4l2FrameTime(uint32_t numerator, uint32_t denominator);
void V4l2FrameFraction(int64_t frameTime, uint32_t& numerator, uint32_t& denominator);

}  // namespace platform::video
