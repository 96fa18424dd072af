// The TrackPopupMenuEx flags the launcher menu is placed with: which side of
// the menu sits at the anchor point on each axis, and that tracking returns
// the picked command.
#pragma once

namespace velmora {

constexpr unsigned int TPM_LEFTALIGN = 0x0000;
constexpr unsigned int TPM_CENTERALIGN = 0x0004;
constexpr unsigned int TPM_RIGHTALIGN = 0x0008;
constexpr unsigned int TPM_TOPALIGN = 0x0000;
constexpr unsigned int TPM_VCENTERALIGN = 0x0010;
constexpr unsigned int TPM_BOTTOMALIGN = 0x0020;
constexpr unsigned int TPM_RETURNCMD = 0x0100;

} // namespace velmora
