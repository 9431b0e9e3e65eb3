// The counting-semaphore control object and the Quick Setup worker's control.
#include <climits>
#include <utility>

#include "kvprtobj/fw_thread.h"
#include "kvprtobj/quicksetup.h"

KVThreadControl::KVThreadControl(unsigned long count) {
    if (count <= static_cast<unsigned long>(LONG_MAX))
        m_hSemaphore = CreateSemaphoreA(nullptr, static_cast<long>(count), static_cast<long>(count), nullptr);
    m_dwMaxCount = m_hSemaphore != nullptr ? static_cast<uint32_t>(count) : 0;
}

KVThreadControl::~KVThreadControl() {
    if (m_hSemaphore != nullptr) CloseHandle(m_hSemaphore);
}

void KVThreadControl::lock(unsigned long count) {
    unsigned long units = count < m_dwMaxCount ? count : m_dwMaxCount;
    for (unsigned long i = 0; i < units; ++i) WaitForSingleObject(m_hSemaphore, INFINITE);
}

void KVThreadControl::unlock(unsigned long count) {
    unsigned long units = count < m_dwMaxCount ? count : m_dwMaxCount;
    if (units > 0) ReleaseSemaphore(m_hSemaphore, static_cast<long>(units), nullptr);
}

KVQSThreadControl::KVQSThreadControl(CString text, KVPrtObj::OMVARIABLE* variables, unsigned int variableCount,
                                     KVPrtObj* printer, int value, const HWND window, unsigned int windowParam,
                                     KVThreadAction action)
    : KVThreadControl(1),
      m_nValue(value),
      m_strText(std::move(text)),
      m_pVariables(variables),
      m_uVariableCount(variableCount),
      m_pPrtObj(printer),
      m_eAction(action),
      m_hWnd(window),
      m_uWindowParam(window != nullptr ? windowParam : 0) {}

KVQSThreadControl::~KVQSThreadControl() = default;

KVQSThreadControl::KVThreadAction KVQSThreadControl::getKVThreadAction() const {
    // The semaphore changes, the object does not.
    auto* self = const_cast<KVQSThreadControl*>(this);
    self->lock(1);
    KVThreadAction action = m_eAction;
    self->unlock(1);
    return action;
}

void KVQSThreadControl::setKVThreadAction(KVThreadAction action) {
    lock(1);
    m_eAction = action;
    unlock(1);
}
