// The PKCS#11 (Cryptoki) interface a token's module exports: the few types,
// constants and the function list this program calls, with the layout the
// standard gives them. On Windows a module's structures are packed to one
// byte; elsewhere they take the platform's natural alignment.
#pragma once
#include <cstdint>

namespace fwpack::ck {

using Byte = unsigned char;
using Ulong = unsigned long;   // CK_ULONG: 64 bits on Linux, 32 on Windows
using Rv = Ulong;
using SlotId = Ulong;
using SessionHandle = Ulong;
using ObjectHandle = Ulong;

#if defined(_WIN32)
#pragma pack(push, 1)
#endif

struct Version {
    Byte Major;
    Byte Minor;
};

struct Attribute {
    Ulong Type;
    void *Value;
    Ulong ValueLength;
};

struct Mechanism {
    Ulong Type;
    void *Parameter;
    Ulong ParameterLength;
};

struct TokenInfo {
    Byte Label[32];
    Byte ManufacturerId[32];
    Byte Model[16];
    Byte SerialNumber[16];
    Ulong Flags;
    Ulong Counts[10];   // sessions, PIN lengths, memory: not used here
    Version HardwareVersion;
    Version FirmwareVersion;
    Byte UtcTime[16];
};

using Unused = void (*)();

// The function list in the standard's order, up to C_Sign; the entries this
// program never calls keep their places as Unused.
struct FunctionList {
    Version CryptokiVersion;
    Rv (*Initialize)(void *initArgs);
    Rv (*Finalize)(void *reserved);
    Unused GetInfo;
    Unused GetFunctionList;
    Rv (*GetSlotList)(Byte tokenPresent, SlotId *slots, Ulong *count);
    Unused GetSlotInfo;
    Rv (*GetTokenInfo)(SlotId slot, TokenInfo *info);
    Unused GetMechanismList, GetMechanismInfo, InitToken, InitPin, SetPin;
    Rv (*OpenSession)(SlotId slot, Ulong flags, void *application, void *notify,
                      SessionHandle *session);
    Rv (*CloseSession)(SessionHandle session);
    Unused CloseAllSessions, GetSessionInfo, GetOperationState, SetOperationState;
    Rv (*Login)(SessionHandle session, Ulong userType, Byte *pin, Ulong pinLength);
    Rv (*Logout)(SessionHandle session);
    Unused CreateObject, CopyObject, DestroyObject, GetObjectSize;
    Rv (*GetAttributeValue)(SessionHandle session, ObjectHandle object, Attribute *attributes,
                            Ulong count);
    Unused SetAttributeValue;
    Rv (*FindObjectsInit)(SessionHandle session, Attribute *attributes, Ulong count);
    Rv (*FindObjects)(SessionHandle session, ObjectHandle *objects, Ulong max, Ulong *found);
    Rv (*FindObjectsFinal)(SessionHandle session);
    Unused EncryptInit, Encrypt, EncryptUpdate, EncryptFinal;
    Unused DecryptInit, Decrypt, DecryptUpdate, DecryptFinal;
    Unused DigestInit, Digest, DigestUpdate, DigestKey, DigestFinal;
    Rv (*SignInit)(SessionHandle session, Mechanism *mechanism, ObjectHandle key);
    Rv (*Sign)(SessionHandle session, Byte *data, Ulong dataLength, Byte *signature,
               Ulong *signatureLength);
};

#if defined(_WIN32)
#pragma pack(pop)
#endif

using GetFunctionListFn = Rv (*)(FunctionList **list);

inline constexpr Rv kOk = 0;
inline constexpr Rv kPinIncorrect = 0xA0;
inline constexpr Rv kPinInvalid = 0xA1;
inline constexpr Rv kPinLenRange = 0xA2;
inline constexpr Rv kPinExpired = 0xA3;
inline constexpr Rv kPinLocked = 0xA4;
inline constexpr Rv kUserAlreadyLoggedIn = 0x100;
inline constexpr Rv kAlreadyInitialized = 0x191;

inline constexpr Ulong kSerialSession = 0x4;
inline constexpr Ulong kUserNormal = 1;
inline constexpr Ulong kTokenInfoLoginRequired = 0x4;

inline constexpr Ulong kAttrClass = 0x0;
inline constexpr Ulong kAttrLabel = 0x3;
inline constexpr Ulong kAttrValue = 0x11;
inline constexpr Ulong kAttrKeyType = 0x100;
inline constexpr Ulong kAttrId = 0x102;
inline constexpr Ulong kAttrModulus = 0x120;
inline constexpr Ulong kAttrPublicExponent = 0x122;
inline constexpr Ulong kUnavailable = ~Ulong(0);

inline constexpr Ulong kClassCertificate = 1;
inline constexpr Ulong kClassPrivateKey = 3;
inline constexpr Ulong kKeyRsa = 0;
inline constexpr Ulong kMechanismRsaPkcs = 1;   // PKCS#1 v1.5 over a DigestInfo given whole

}  // namespace fwpack::ck
