# What `cmake --install` puts in place: the programs in bin/ with zovtds, the scripted test
# server that the demo plays the database with (so `scripts/demo.sh --prebuilt DIR` runs on
# an installed tree), and the example definition set in share/zov/examples/. A program that
# was not built (a build of some targets only) is passed over. The tests' other helper
# programs and the benchmarks stay out.
include(GNUInstallDirs)

foreach(program zemcoll zemsql zem2sql zovprobe zovivpt zovtds)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
  endif()
endforeach()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zov/examples)
