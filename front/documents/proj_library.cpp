#include "front/documents/proj_library.h"

#include <dlfcn.h>

#include <mutex>

namespace torvek::front {
namespace {

// The library's file name as its package installs it (the build names it from PROJ's CMake
// package), so that the one the headers describe is the one loaded.
constexpr const char* kProjLibrary = TORVEK_PROJ_LIBRARY;

ProjFunctions functions;

template <typename Function>
bool bind(void* library, const char* name, Function& function, std::string& error) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (function == nullptr && error.empty()) {
        error = std::string(kProjLibrary) + " has no " + name;
    }
    return function != nullptr;
}

// Finds every function; the error of the first missing one.
std::string bindAll(void* library) {
    std::string error;
    bind(library, "proj_clone", functions.proj_clone, error);
    bind(library, "proj_context_create", functions.proj_context_create, error);
    bind(library, "proj_context_destroy", functions.proj_context_destroy, error);
    bind(library, "proj_context_errno", functions.proj_context_errno, error);
    bind(library, "proj_context_errno_string", functions.proj_context_errno_string, error);
    bind(library, "proj_context_set_enable_network", functions.proj_context_set_enable_network,
         error);
    bind(library, "proj_coord", functions.proj_coord, error);
    bind(library, "proj_coordoperation_get_accuracy", functions.proj_coordoperation_get_accuracy,
         error);
    bind(library, "proj_coordoperation_has_ballpark_transformation",
         functions.proj_coordoperation_has_ballpark_transformation, error);
    bind(library, "proj_coordoperation_is_instantiable",
         functions.proj_coordoperation_is_instantiable, error);
    bind(library, "proj_create", functions.proj_create, error);
    bind(library, "proj_create_operation_factory_context",
         functions.proj_create_operation_factory_context, error);
    bind(library, "proj_create_operations", functions.proj_create_operations, error);
    bind(library, "proj_crs_get_coordinate_system", functions.proj_crs_get_coordinate_system,
         error);
    bind(library, "proj_crs_get_datum_forced", functions.proj_crs_get_datum_forced, error);
    bind(library, "proj_crs_get_geodetic_crs", functions.proj_crs_get_geodetic_crs, error);
    bind(library, "proj_cs_get_axis_count", functions.proj_cs_get_axis_count, error);
    bind(library, "proj_cs_get_axis_info", functions.proj_cs_get_axis_info, error);
    bind(library, "proj_destroy", functions.proj_destroy, error);
    bind(library, "proj_ellipsoid_get_parameters", functions.proj_ellipsoid_get_parameters, error);
    bind(library, "proj_get_ellipsoid", functions.proj_get_ellipsoid, error);
    bind(library, "proj_get_id_auth_name", functions.proj_get_id_auth_name, error);
    bind(library, "proj_get_id_code", functions.proj_get_id_code, error);
    bind(library, "proj_get_name", functions.proj_get_name, error);
    bind(library, "proj_get_source_crs", functions.proj_get_source_crs, error);
    bind(library, "proj_get_type", functions.proj_get_type, error);
    bind(library, "proj_info", functions.proj_info, error);
    bind(library, "proj_is_equivalent_to_with_ctx", functions.proj_is_equivalent_to_with_ctx,
         error);
    bind(library, "proj_list_destroy", functions.proj_list_destroy, error);
    bind(library, "proj_list_get", functions.proj_list_get, error);
    bind(library, "proj_list_get_count", functions.proj_list_get_count, error);
    bind(library, "proj_log_level", functions.proj_log_level, error);
    bind(library, "proj_normalize_for_visualization", functions.proj_normalize_for_visualization,
         error);
    bind(library, "proj_operation_factory_context_destroy",
         functions.proj_operation_factory_context_destroy, error);
    bind(library, "proj_operation_factory_context_set_area_of_interest",
         functions.proj_operation_factory_context_set_area_of_interest, error);
    bind(library, "proj_operation_factory_context_set_grid_availability_use",
         functions.proj_operation_factory_context_set_grid_availability_use, error);
    bind(library, "proj_operation_factory_context_set_spatial_criterion",
         functions.proj_operation_factory_context_set_spatial_criterion, error);
    bind(library, "proj_trans", functions.proj_trans, error);
    return error;
}

}  // namespace

bool loadProj(std::string& error) {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        void* library = ::dlopen(kProjLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* reason = ::dlerror();
            failure = std::string(kProjLibrary) + " cannot be loaded" +
                      (reason != nullptr ? std::string(" (") + reason + ")" : std::string());
            return;
        }
        failure = bindAll(library);  // the library stays loaded for the process's life
    });
    error = failure;
    return failure.empty();
}

const ProjFunctions& proj() {
    return functions;
}

}  // namespace torvek::front
