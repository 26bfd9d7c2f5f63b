#pragma once
// PROJ, loaded the first time grid coordinates are asked for rather than linked: the library and
// the thirty libraries it brings (network, image and database ones among them) took longer to load
// than torvek takes to adjust the national network, and most runs ask for no grid.
#include <proj.h>

#include <string>

namespace torvek::front {

// The PROJ functions the grid coordinates call, by their own names.
struct ProjFunctions {
    decltype(&::proj_clone) proj_clone = nullptr;
    decltype(&::proj_context_create) proj_context_create = nullptr;
    decltype(&::proj_context_destroy) proj_context_destroy = nullptr;
    decltype(&::proj_context_errno) proj_context_errno = nullptr;
    decltype(&::proj_context_errno_string) proj_context_errno_string = nullptr;
    decltype(&::proj_context_set_enable_network) proj_context_set_enable_network = nullptr;
    decltype(&::proj_coord) proj_coord = nullptr;
    decltype(&::proj_coordoperation_get_accuracy) proj_coordoperation_get_accuracy = nullptr;
    decltype(&::proj_coordoperation_has_ballpark_transformation)
        proj_coordoperation_has_ballpark_transformation = nullptr;
    decltype(&::proj_coordoperation_is_instantiable) proj_coordoperation_is_instantiable = nullptr;
    decltype(&::proj_create) proj_create = nullptr;
    decltype(&::proj_create_operation_factory_context) proj_create_operation_factory_context =
        nullptr;
    decltype(&::proj_create_operations) proj_create_operations = nullptr;
    decltype(&::proj_crs_get_coordinate_system) proj_crs_get_coordinate_system = nullptr;
    decltype(&::proj_crs_get_datum_forced) proj_crs_get_datum_forced = nullptr;
    decltype(&::proj_crs_get_geodetic_crs) proj_crs_get_geodetic_crs = nullptr;
    decltype(&::proj_cs_get_axis_count) proj_cs_get_axis_count = nullptr;
    decltype(&::proj_cs_get_axis_info) proj_cs_get_axis_info = nullptr;
    decltype(&::proj_destroy) proj_destroy = nullptr;
    decltype(&::proj_ellipsoid_get_parameters) proj_ellipsoid_get_parameters = nullptr;
    decltype(&::proj_get_ellipsoid) proj_get_ellipsoid = nullptr;
    decltype(&::proj_get_id_auth_name) proj_get_id_auth_name = nullptr;
    decltype(&::proj_get_id_code) proj_get_id_code = nullptr;
    decltype(&::proj_get_name) proj_get_name = nullptr;
    decltype(&::proj_get_source_crs) proj_get_source_crs = nullptr;
    decltype(&::proj_get_type) proj_get_type = nullptr;
    decltype(&::proj_info) proj_info = nullptr;
    decltype(&::proj_is_equivalent_to_with_ctx) proj_is_equivalent_to_with_ctx = nullptr;
    decltype(&::proj_list_destroy) proj_list_destroy = nullptr;
    decltype(&::proj_list_get) proj_list_get = nullptr;
    decltype(&::proj_list_get_count) proj_list_get_count = nullptr;
    decltype(&::proj_log_level) proj_log_level = nullptr;
    decltype(&::proj_normalize_for_visualization) proj_normalize_for_visualization = nullptr;
    decltype(&::proj_operation_factory_context_destroy) proj_operation_factory_context_destroy =
        nullptr;
    decltype(&::proj_operation_factory_context_set_area_of_interest)
        proj_operation_factory_context_set_area_of_interest = nullptr;
    decltype(&::proj_operation_factory_context_set_grid_availability_use)
        proj_operation_factory_context_set_grid_availability_use = nullptr;
    decltype(&::proj_operation_factory_context_set_spatial_criterion)
        proj_operation_factory_context_set_spatial_criterion = nullptr;
    decltype(&::proj_trans) proj_trans = nullptr;
};

// Loads PROJ once (later calls return at once; safe from several threads). False with `error`
// naming the library and the reason when it or one of its functions cannot be found.
bool loadProj(std::string& error);

// The functions of the loaded library: only after loadProj succeeded.
const ProjFunctions& proj();

}  // namespace torvek::front
