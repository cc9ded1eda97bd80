// The token subsystem in one object, as the composition root owns it: the binding with its slot
// table, the container layer, the object operations and the CSP's token requests.
#pragma once

#include "platform/platform.h"
#include "token/p11_binding.h"
#include "token/p11_containers.h"
#include "token/p11_objects.h"
#include "token/token_requests.h"

namespace corvane {

class CTokenAccess {
public:
    explicit CTokenAccess(Platform& platform)
        : m_binding(platform), m_containers(m_binding), m_objects(m_containers),
          m_requests(m_binding, m_containers, m_objects, *platform.clock) {
        m_binding.SetSlotWork(&m_containers);
    }
    CTokenAccess(const CTokenAccess&) = delete;
    CTokenAccess& operator=(const CTokenAccess&) = delete;

    CP11Binding& Binding() { return m_binding; }
    CP11Containers& Containers() { return m_containers; }
    CP11Objects& Objects() { return m_objects; }
    CTokenRequests& Requests() { return m_requests; }

private:
    CP11Binding m_binding;
    CP11Containers m_containers;
    CP11Objects m_objects;
    CTokenRequests m_requests;
};

}  // namespace corvane
