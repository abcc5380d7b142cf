// SPDX-License-Identifier: MIT
/*
 * The four entry points of a Pellora component server (libpellora.so,
 * libdownloaders.so), for hosts that load a library at run time with dlopen
 * and find its controls by class identifier.
 *
 *   DllGetClassObject(class_id, &factory)  hands out the factory of the control
 *       whose class identifier (a UUID string, e.g. PELLORA_TORVANE_CLASS_ID)
 *       is given. The factory creates and destroys instances; what an instance
 *       is, and the functions that drive it, are in the library's own header.
 *   DllCanUnloadNow()  COMPONENT_OK when no object of the library is alive (the
 *       host may dlclose it), COMPONENT_FALSE while one is.
 *   DllRegisterServer() / DllUnregisterServer()  write / remove one small
 *       record per control under $XDG_DATA_HOME/pellora/components (default
 *       ~/.local/share/pellora/components), named "<class id>.component", that
 *       maps the class identifier to the library's absolute path:
 *           class_id=<uuid>
 *           name=<library>.<control>
 *           library=<absolute path of the shared library>
 *       so that a host can find the library of a class identifier.
 *
 * Nothing else happens in them. A host that links a library directly calls the
 * library's own create functions instead; both libraries export entry points of
 * the same names, so only a host that dlopens them can reach both sets.
 */
#ifndef PELLORA_COMPONENT_SERVER_H
#define PELLORA_COMPONENT_SERVER_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define COMPONENT_EXPORT __attribute__((visibility("default")))
#else
#define COMPONENT_EXPORT
#endif

/* Results of the entry points. */
enum component_result {
  COMPONENT_OK = 0,
  COMPONENT_FALSE = 1,                  /* DllCanUnloadNow: objects are alive */
  COMPONENT_E_INVALID_ARGUMENT = -1,    /* a null pointer where one is needed */
  COMPONENT_E_CLASS_NOT_AVAILABLE = -2, /* no control of that class identifier here */
  COMPONENT_E_REGISTRATION = -3         /* the record could not be written or removed */
};

/* The factory of one control class. Static data of the library: valid while the
 * library is loaded; never freed by the host. */
typedef struct component_class_factory {
  const char* class_id; /* UUID string, lower case, without braces */
  const char* name;     /* "Pellora.Torvane", "Downloaders.Downloader" */
  /* A new instance, created, initialised and sized as a container does; NULL
   * when it could not be created. Cast it to the library's handle type. */
  void* (*create_instance)(void);
  /* Ends an instance made by create_instance (NULL is ignored). */
  void (*destroy_instance)(void* instance);
} component_class_factory;

COMPONENT_EXPORT int DllGetClassObject(const char* class_id,
                                       const component_class_factory** factory);
COMPONENT_EXPORT int DllCanUnloadNow(void);
COMPONENT_EXPORT int DllRegisterServer(void);
COMPONENT_EXPORT int DllUnregisterServer(void);

/* The signatures, for hosts that look the entry points up with dlsym. */
typedef int (*component_get_class_object_fn)(const char*, const component_class_factory**);
typedef int (*component_can_unload_now_fn)(void);
typedef int (*component_register_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* PELLORA_COMPONENT_SERVER_H */
