# Builds the Windows Installer package with wixl, then mends in its tables what wixl drops.
#   cmake -DWXS=... -DEXE=... -DINI=... -DVERSION=x.y.z -DSTAGE=dir -DOUTPUT=pkg.msi -P build-msi.cmake
foreach(var WXS EXE INI VERSION STAGE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build-msi.cmake needs -D${var}=")
  endif()
endforeach()

find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)

# wixl takes sources relative to its working folder only.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY ${EXE} ${INI} DESTINATION ${STAGE})
execute_process(COMMAND ${WIXL} -a x64 -D Version=${VERSION} -o package.msi ${WXS}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wixl failed: ${errors}")
endif()

# 256 = 64-bit component; 128 = NeverOverwrite (an administrator's INI survives every later
# package); 16 = Permanent (and its removal). "#%" makes a REG_EXPAND_SZ value.
set(queries
    "UPDATE `Component` SET `Attributes` = 400 WHERE `Component` = 'SampleIni'"
    "UPDATE `Registry` SET `Value` = '#%[#ServiceExeFile]' WHERE `Name` = 'EventMessageFile'")
foreach(query IN LISTS queries)
  execute_process(COMMAND ${MSIBUILD} package.msi -q "${query}"
                  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild failed on ${query}: ${errors}")
  endif()
endforeach()
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
file(COPY_FILE ${STAGE}/package.msi ${OUTPUT})
