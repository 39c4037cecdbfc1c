// Class and interface IDs of the module, shared with the host.
#pragma once

#include "module/abi.h"

namespace orv::module {

inline constexpr Guid kTransitionRegistrarId =
    MakeGuid(0x6468CE03, 0xE984, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kTransitionAssetId =
    MakeGuid(0x9FCC6708, 0xF009, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kFadeActorId =
    MakeGuid(0x6468CE04, 0xE984, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kWipeUpActorId =
    MakeGuid(0x4EF1A98A, 0xEA87, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kWipeDownActorId =
    MakeGuid(0x0B96F827, 0xEBE0, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kColorActorId =
    MakeGuid(0x9FCC670A, 0xF009, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kWipeLeftActorId =
    MakeGuid(0xEC1852D1, 0xF097, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);
inline constexpr Guid kWipeRightActorId =
    MakeGuid(0x759B9FE9, 0xF186, 0x11D1, 0x80B3, 0x00A0C90AAAA7ull);

inline constexpr Guid kRegistrationInterfaceId =
    MakeGuid(0xAC3E7803, 0x0002, 0x8FE5, 0x0000, 0x080007160DC3ull);
inline constexpr Guid kAssetInterfaceId =
    MakeGuid(0xAC401E5C, 0x0001, 0xA855, 0x0000, 0x0800072C6326ull);
inline constexpr Guid kInitFromDictInterfaceId =
    MakeGuid(0xAC416431, 0x000D, 0x7D16, 0x0000, 0x080007160DC3ull);
inline constexpr Guid kActorInterfaceId =
    MakeGuid(0xAC401E9C, 0x0001, 0xB768, 0x0000, 0x0800072C6326ull);

// The index that registration stores under "myData" and the asset reads back,
// for the transitions whose code names them; module/transitions.h holds every
// transition's. A value no row holds names no transition.
enum TransitionIndex : int32_t {
  kFadeTransition = 0,
  kWipeUpTransition = 1,
  kWipeDownTransition = 2,
  kWipeLeftTransition = 3,
  kWipeRightTransition = 4,
  kColorTransition = 5,
};
static_assert(sizeof(TransitionIndex) == 4);

}  // namespace orv::module
