#include "core/document/XMLNodeAccess.h"

namespace ludex {

TDomNode AddBranchElement(const TDomNode& parent) {
    return parent.AddChildElement(kBranchElementName);
}

bool IsBranchEncrypted(const TDomNode& element) {
    return EncryptionAccess.Exists(element);
}

bool IsBranchLocked(const TDomNode& element) {
    return EncryptionAccess.Exists(element) && !PasswordAccess.Exists(element);
}

} // namespace ludex
