# The installed layout. The program, the platform stand-ins it loads by file name and the demo
# film site live together in <libdir>/filmfinder: the program finds the stand-ins and the site in
# its own folder (/proc/self/exe), and the loader finds the stand-in it links through $ORIGIN.
# <bindir>/filmfinder is a relative link to it; the demo site's data, the desktop entry, the icons
# and the AppStream data go under <datadir>.
if(NOT TARGET filmfinder)
  return()
endif()

include(GNUInstallDirs)

set(FF_APPLICATION_ID io.github.filmfinder.FilmFinder)
set(FF_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(FF_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# Every library the program's command table names, plus the program and the demo site.
set(ff_installed_libraries ffkernel ffinet ffautomation ffshell ffraster)
set(ff_installed_programs filmfinder demo_film_site)
foreach(target IN LISTS ff_installed_libraries ff_installed_programs)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "The installed program needs ${target}, which this tree does not build")
  endif()
endforeach()
# Only $ORIGIN: an installed binary never looks into the build tree.
set_target_properties(${ff_installed_libraries} ${ff_installed_programs} PROPERTIES
  INSTALL_RPATH "$ORIGIN")
install(TARGETS ${ff_installed_programs} RUNTIME DESTINATION ${FF_INSTALL_PROGRAM_DIR})
install(TARGETS ${ff_installed_libraries} LIBRARY DESTINATION ${FF_INSTALL_PROGRAM_DIR})

# The command: relative, so the tree can move (a package's staging folder, another prefix).
file(RELATIVE_PATH ff_program_from_bindir ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${FF_INSTALL_PROGRAM_DIR}/filmfinder)
set(ff_links_dir ${CMAKE_CURRENT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${ff_links_dir})
file(CREATE_LINK ${ff_program_from_bindir} ${ff_links_dir}/filmfinder SYMBOLIC)
install(FILES ${ff_links_dir}/filmfinder DESTINATION ${CMAKE_INSTALL_BINDIR})

# The demo site's data, where the program looks for it (app/demo_site_launcher.cpp); the
# scripts that made its media are not part of it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo-site/data/ DESTINATION ${FF_INSTALL_DEMO_DATA_DIR}
        PATTERN "*.sh" EXCLUDE)

# The demo site run by hand from the install finds its data the same way.
file(RELATIVE_PATH ff_demo_data_from_site ${CMAKE_INSTALL_PREFIX}/${FF_INSTALL_PROGRAM_DIR}
     ${CMAKE_INSTALL_PREFIX}/${FF_INSTALL_DEMO_DATA_DIR})
set_property(SOURCE ${PROJECT_SOURCE_DIR}/demo-site/film_site.cpp DIRECTORY ${PROJECT_SOURCE_DIR}/demo-site
             APPEND PROPERTY COMPILE_DEFINITIONS FF_DEMO_DATA_FROM_PROGRAM="${ff_demo_data_from_site}")

# Desktop integration.
install(FILES ${FF_PACKAGING_DIR}/${FF_APPLICATION_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${FF_PACKAGING_DIR}/${FF_APPLICATION_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${FF_PACKAGING_DIR}/icons/hicolor/ DESTINATION ${FF_ICON_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/filmfinder
        RENAME copyright)

# The window icon when the icon theme does not know the program: the installed one, found from
# the program's folder, and in the build tree a copy beside the program.
file(RELATIVE_PATH ff_icon_from_program ${CMAKE_INSTALL_PREFIX}/${FF_INSTALL_PROGRAM_DIR}
     ${CMAKE_INSTALL_PREFIX}/${FF_ICON_DIR}/256x256/apps/${FF_APPLICATION_ID}.png)
target_compile_definitions(ffwindowing PRIVATE FF_ICON_FROM_PROGRAM="${ff_icon_from_program}")
configure_file(${FF_PACKAGING_DIR}/icons/hicolor/256x256/apps/${FF_APPLICATION_ID}.png
               ${FF_OUTPUT_DIR}/${FF_APPLICATION_ID}.png COPYONLY)

if(FF_BUILD_TESTS)
  add_subdirectory(tests/install)
endif()
