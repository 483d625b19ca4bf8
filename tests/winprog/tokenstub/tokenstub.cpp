// The stand-in module: C_GetFunctionList gives a list whose calls answer as
// one token labelled "stand-in token" would, so that fwpack.exe's side of
// the module's interface (the packed structures, the order of the calls,
// the answers it turns into lines) runs on Windows.
#include <cstring>

#include "tools/fwpack/authenticode/pkcs11_types.h"

using namespace fwpack::ck;

namespace {

constexpr SlotId kSlot = 7;
constexpr SessionHandle kSession = 42;
constexpr char kPin[] = "4711";
bool loggedIn = false;

Rv Initialize(void *) { return kOk; }
Rv Finalize(void *) { return kOk; }
Rv GetSlotList(Byte, SlotId *slots, Ulong *count) {
    if (slots && *count < 1) return 0x150;   // buffer too small
    if (slots) slots[0] = kSlot;
    *count = 1;
    return kOk;
}
Rv GetTokenInfo(SlotId slot, TokenInfo *info) {
    if (slot != kSlot) return 0x3;   // slot id invalid
    std::memset(info, ' ', sizeof *info);
    std::memcpy(info->Label, "stand-in token", 14);
    info->Flags = kTokenInfoLoginRequired;
    return kOk;
}
Rv OpenSession(SlotId slot, Ulong, void *, void *, SessionHandle *session) {
    *session = kSession;
    return slot == kSlot ? kOk : 0x3;
}
Rv CloseSession(SessionHandle) { return kOk; }
Rv Login(SessionHandle, Ulong, Byte *pin, Ulong length) {
    loggedIn = length == std::strlen(kPin) && std::memcmp(pin, kPin, length) == 0;
    return loggedIn ? kOk : kPinIncorrect;
}
Rv Logout(SessionHandle) { return kOk; }
Rv FindObjectsInit(SessionHandle, Attribute *, Ulong) { return kOk; }
Rv FindObjects(SessionHandle, ObjectHandle *, Ulong, Ulong *found) {
    *found = 0;
    return kOk;
}
Rv FindObjectsFinal(SessionHandle) { return kOk; }

FunctionList MakeList() {
    FunctionList list{};
    list.CryptokiVersion = {2, 40};
    list.Initialize = Initialize;
    list.Finalize = Finalize;
    list.GetSlotList = GetSlotList;
    list.GetTokenInfo = GetTokenInfo;
    list.OpenSession = OpenSession;
    list.CloseSession = CloseSession;
    list.Login = Login;
    list.Logout = Logout;
    list.FindObjectsInit = FindObjectsInit;
    list.FindObjects = FindObjects;
    list.FindObjectsFinal = FindObjectsFinal;
    return list;
}
FunctionList functions = MakeList();

}  // namespace

extern "C" __declspec(dllexport) Rv C_GetFunctionList(FunctionList **list) {
    *list = &functions;
    return kOk;
}
