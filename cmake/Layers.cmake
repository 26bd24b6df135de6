# The product's folders are layers, each allowed to use only the layers below it:
#
#   platform  <-  storage, store  <-  library  <-  dialogs  <-  admin  <-  capi  <-  host, cli
#
# Sources include by folder ("platform/adodb.h"). A layer's target is not given the whole
# source tree as its include path but a folder of its own holding links to exactly the folders
# it may use, so an include of a higher layer (or of a sibling top, host from cli) does not
# compile. The widget layers are the first that may include QtWidgets; the core is linked with
# --no-undefined so that a widget call hidden below them fails to link as well.
set(VARDEX_LAYER_platform platform)
set(VARDEX_LAYER_storage platform storage)
set(VARDEX_LAYER_store platform store)
set(VARDEX_LAYER_library platform storage store library)
set(VARDEX_LAYER_dialogs ${VARDEX_LAYER_library} dialogs)
set(VARDEX_LAYER_admin ${VARDEX_LAYER_dialogs} admin)
set(VARDEX_LAYER_capi ${VARDEX_LAYER_admin} capi)
set(VARDEX_LAYER_host ${VARDEX_LAYER_library} dialogs capi host)
set(VARDEX_LAYER_cli ${VARDEX_LAYER_library} capi cli)

# vardex_layer(<target> <layer>): compiles <target> with the include view of <layer> and the
# product's warnings (cmake/Warnings.cmake).
function(vardex_layer target layer)
  if(NOT DEFINED VARDEX_LAYER_${layer})
    message(FATAL_ERROR "vardex_layer: no layer named '${layer}'")
  endif()
  set(view ${CMAKE_BINARY_DIR}/layers/${layer})
  if(NOT EXISTS ${view})
    file(MAKE_DIRECTORY ${view})
    foreach(folder ${VARDEX_LAYER_${layer}})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
    endforeach()
  endif()
  target_include_directories(${target} PRIVATE ${view})
  target_link_libraries(${target} PRIVATE vardex_warnings)
endfunction()
