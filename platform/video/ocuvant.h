#pragma once
// The two vendor interfaces of the microscope camera, asked for on its capture device by
// their identifiers: the sensor interface (gain, shutter step, mirror, flip, reset, snapshot
// mode) and the common interface (model number, sensor registers, the snapshot button).
// Every method answers with a result code; out values are written only on success.
//
// A device that has neither answers E_NOINTERFACE; one that has only some of the controls
// (a generic camera) answers E_NOTIMPL for the others.
#include <array>
#include <cstdint>

#include "platform/video/guid.h"
#include "platform/video/media_type.h"

namespace platform::video {

// The common interface.
inline constexpr TGUID IID_OcuvantCOM{0x7B3E2A17, 0x51D4, 0x4C6B, {0x9E, 0x20, 0x3F, 0x1A, 0x6C, 0x8D, 0x0B, 0x17}};
// The sensor interface (the camera's class identifier doubles as its interface identifier).
inline constexpr TGUID CLSID_Ocuvant24B13{0x7B3E2A19, 0x51D4, 0x4C6B, {0x9E, 0x20, 0x3F, 0x1A, 0x6C, 0x8D, 0x0B, 0x17}};

// Shutter steps, one byte on the interface: step i exposes for 1 / kShutterExposure[i] s.
enum eShutterSpeedCMOS : uint8_t {
  ssc2, ssc4, ssc7_5, ssc15, ssc20, ssc30, ssc50, ssc60, ssc100, ssc120,
  ssc200, ssc250, ssc500, ssc750, ssc1000, ssc2000, ssc3000, ssc4000, ssc5000,
  sscMax  // end marker, never a valid step
};
inline constexpr int kShutterSteps = sscMax;
inline constexpr std::array<double, kShutterSteps> kShutterExposure = {
    2, 4, 7.5, 15, 20, 30, 50, 60, 100, 120, 200, 250, 500, 750, 1000, 2000, 3000, 4000, 5000};

// What every vendor interface is handed out as; the asker casts to the interface it named.
class IVendorInterface {
 public:
  virtual ~IVendorInterface() = default;
};

class IOcuvantCMOS : public IVendorInterface {
 public:
  virtual HRESULT GetAGC(int32_t& gain) = 0;
  virtual HRESULT SetAGC(uint32_t gain) = 0;
  virtual HRESULT GetMirror(int32_t& mirror) = 0;
  virtual HRESULT SetMirror(int32_t mirror) = 0;  // 1 mirrored, 0 normal
  virtual HRESULT GetFlip(int32_t& flip) = 0;
  virtual HRESULT SetFlip(int32_t flip) = 0;  // 1 flipped, 0 normal
  virtual HRESULT GetShutterSpeed(eShutterSpeedCMOS& shutter) = 0;
  virtual HRESULT SetShutterSpeed(eShutterSpeedCMOS shutter) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT GetSnapshotMode(int32_t& mode) = 0;
  virtual HRESULT SetSnapshotMode(const int32_t* mode) = 0;
};

class IOcuvantCommon : public IVendorInterface {
 public:
  virtual HRESULT ReadI2C(uint8_t selector, uint8_t address, uint16_t& value) = 0;
  virtual HRESULT WriteI2C(uint8_t selector, uint8_t address, uint16_t value) = 0;
  virtual HRESULT GetModel(uint16_t& model) = 0;
  virtual HRESULT Snapshot() = 0;
  virtual HRESULT SetPower(uint16_t power) = 0;
  virtual HRESULT GetAltSetting(uint16_t& setting) = 0;
  virtual HRESULT SetAltSetting(uint16_t setting) = 0;
  virtual HRESULT IsAvailable(int32_t* available) = 0;
  // State of the camera's snapshot push-button: 0 released.
  virtual HRESULT GetSnapshotState(int32_t* state) = 0;
};

}  // namespace platform::video
