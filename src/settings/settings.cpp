// The remembered settings and the closing flag.
#include "settings/settings.h"

#include "platform/text.h"

char16_t HexFileName[kPathCapacity];
char16_t ComName[kPathCapacity] = u"probe all";
const char16_t kProbeAll[] = u"probe all";
std::atomic<int32_t> AbortRequested{0};
bool FastReplies = false;

void ResetSettings() {
  HexFileName[0] = u'\0';
  TextCopy(ComName, kPathCapacity, kProbeAll);
  FastReplies = false;
}
