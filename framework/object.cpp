#include "kvprtobj/fw_base.h"

const CRuntimeClass CObject::classCObject = {"CObject"};

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }
CObject::~CObject() = default;
void CObject::Serialize(void*) {}
void CObject::AssertValid() const {}
void CObject::Dump(std::string& out) const { out += "a "; out += className(); out += " at "; out += std::to_string(reinterpret_cast<std::uintptr_t>(this)); }
const char* CObject::className() const { return GetRuntimeClass()->m_lpszClassName; }
