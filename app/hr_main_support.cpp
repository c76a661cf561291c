#include "app/hr_main_support.h"

#include "platform/base/number_parse.h"

namespace app {

uint8_t OriginMarker(const platform::Bitmap& ibmp) {
  if (ibmp.Width() < 3 || ibmp.Height() < 1) return 0;
  return ibmp.ScanLine(0)[6];
}

void SetOriginMarker(platform::Bitmap& ibmp, uint8_t marker) {
  if (ibmp.Width() < 3 || ibmp.Height() < 1) return;
  uint8_t* top = ibmp.ScanLine(0);
  top[6] = top[7] = top[8] = marker;
}

int32_t SerialAsInteger(const std::string& SerialNo) { return platform::StrToIntDef(SerialNo, 0); }

const char* ZeroFileName(int page) {
  switch (page) {
    case 0: return "BGLAMS.zph";
    case 1: return "BGPLATE.zph";
    case 2: return "BGSTRUCTURE.zph";
    case 3: return "BGFILM.zph";
    default: return "background.zph";
  }
}

}  // namespace app
