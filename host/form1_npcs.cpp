// Placeholder until the NPCs land; replaced, not extended.
#include "form1.h"
namespace quorvane {
void Form1::Timer1_Timer() {}
std::int16_t Form1::Rand(std::int16_t Low, std::int16_t) { return Low; }
}  // namespace quorvane
