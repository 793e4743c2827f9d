#pragma once

// Which program this is. orvo2-base is built from the same libraries; its entry
// point switches the edition before any window exists, and the panels leave out
// the recorded-CoR controls and the stage reports of sequential runs.
namespace Edition {

bool isBase();
void setBase(bool base);

} // namespace Edition
