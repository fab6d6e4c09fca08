// advapi32 service control over M().services: the manager, opening a service,
// the stop control, deletion and closing; AddService for tests.
#include "internal.h"

namespace winsim {
namespace {

struct ManagerObject {
  DWORD access = 0;
};

struct ServiceObject {
  std::string name;
  DWORD access = 0;
};

SC_HANDLE ToScHandle(HANDLE handle) { return reinterpret_cast<SC_HANDLE>(handle); }
HANDLE FromScHandle(SC_HANDLE handle) { return reinterpret_cast<HANDLE>(handle); }

// The service behind a service handle, or null (with the last error set) when
// the handle is not one or the service is gone.
SimService* ServiceOf(SC_HANDLE handle, std::shared_ptr<ServiceObject>* object) {
  HandleEntry* entry = LookupHandle(FromScHandle(handle), HandleKind::Service);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, static_cast<SimService*>(nullptr));
  *object = std::static_pointer_cast<ServiceObject>(entry->object);
  auto it = M().services.services.find((*object)->name);
  if (it == M().services.services.end())
    return Fail(ERROR_INVALID_HANDLE, static_cast<SimService*>(nullptr));
  return &it->second;
}

}  // namespace

SimService& AddService(const std::string& name) {
  SimService& service = M().services.services[name];
  service = SimService{};
  service.name = name;
  return service;
}

}  // namespace winsim

using namespace winsim;

// Only the local machine's active database is simulated.
SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access) {
  if (machineName && *machineName) return Fail(ERROR_ACCESS_DENIED, static_cast<SC_HANDLE>(nullptr));
  if (databaseName && std::string(databaseName) != "ServicesActive")
    return Fail(ERROR_INVALID_NAME, static_cast<SC_HANDLE>(nullptr));
  if (M().services.refuseManager) return Fail(ERROR_ACCESS_DENIED, static_cast<SC_HANDLE>(nullptr));
  auto object = std::make_shared<ManagerObject>();
  object->access = access;
  return ToScHandle(AllocHandle(HandleKind::ServiceManager, object));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
  if (!LookupHandle(FromScHandle(manager), HandleKind::ServiceManager))
    return Fail(ERROR_INVALID_HANDLE, static_cast<SC_HANDLE>(nullptr));
  if (!serviceName) return Fail(ERROR_INVALID_ADDRESS, static_cast<SC_HANDLE>(nullptr));
  auto it = M().services.services.find(serviceName);
  if (it == M().services.services.end() || it->second.deleted)
    return Fail(ERROR_SERVICE_DOES_NOT_EXIST, static_cast<SC_HANDLE>(nullptr));
  if (it->second.refuseOpen) return Fail(ERROR_ACCESS_DENIED, static_cast<SC_HANDLE>(nullptr));
  auto object = std::make_shared<ServiceObject>();
  object->name = it->second.name;
  object->access = access;
  return ToScHandle(AllocHandle(HandleKind::Service, object));
}

// Only the stop control is simulated; the service stops at once and the status
// returned says so. A status record is required.
// Trace: "service-control: <name> <control>".
BOOL ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  std::shared_ptr<ServiceObject> object;
  SimService* service = ServiceOf(handle, &object);
  if (!service) return FALSE;
  if (!status) return Fail(ERROR_INVALID_ADDRESS, FALSE);
  if (control != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_SERVICE_CONTROL, FALSE);
  if (!(object->access & SERVICE_STOP)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!service->running) return Fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
  if (DWORD fault = MachineChange("ControlService", service->name, ERROR_ACCESS_DENIED)) return Fail(fault, FALSE);
  service->controls.push_back(control);
  Trace("service-control: " + service->name + " " + std::to_string(control));
  service->running = false;
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = SERVICE_STOPPED;
  return TRUE;
}

// Trace: "service-delete: <name>".
BOOL DeleteService(SC_HANDLE handle) {
  std::shared_ptr<ServiceObject> object;
  SimService* service = ServiceOf(handle, &object);
  if (!service) return FALSE;
  if (!(object->access & DELETE)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (service->deleted) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
  if (DWORD fault = MachineChange("DeleteService", service->name, ERROR_ACCESS_DENIED)) return Fail(fault, FALSE);
  service->deleted = true;
  Trace("service-delete: " + service->name);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  HANDLE h = FromScHandle(handle);
  if (!LookupHandle(h, HandleKind::Service) && !LookupHandle(h, HandleKind::ServiceManager))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  ReleaseHandle(h);
  return TRUE;
}
