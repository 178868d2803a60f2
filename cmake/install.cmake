# What `cmake --install` puts in place: the programs in bin/, the example definition set
# in share/zov/examples/. The tests' helper programs (runtime/tests/helpers, the scripted
# TDS server, the C caller of zovcomm) and the benchmarks stay out.
include(GNUInstallDirs)

foreach(program zemcoll zemsql zem2sql zovprobe zovivpt)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zov/examples)
