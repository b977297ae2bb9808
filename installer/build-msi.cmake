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

# The INI values of the public properties: rows of the INI's own component, so they are written
# only when the package installs that file, never into an INI that was there already
# (NeverOverwrite), and never removed (Permanent). Action 0 adds or updates the key.
list(APPEND queries
     "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)")
set(ini_keys
    "VERZEICHNISSE IISSITENAME IISSITENAME" "VERZEICHNISSE IISAPPPOOL IISAPPPOOL"
    "URLS VersionsNr VERSIONSNR" "URLS KorvalAppServerDLL KORVALAPPSERVERDLL"
    "ABSICHERUNG SIGNATURSCHLUESSEL SIGNATURSCHLUESSEL" "ABSICHERUNG STATUSSEITE STATUSSEITE"
    "UEBERWACHUNG PROMETHEUSDATEI PROMETHEUSDATEI")
foreach(n RANGE 1 5)
  list(APPEND ini_keys "VERZEICHNISSE DLLPFAD${n} DLLPFAD${n}")
endforeach()
foreach(entry IN LISTS ini_keys)
  separate_arguments(parts UNIX_COMMAND "${entry}")
  list(GET parts 0 section)
  list(GET parts 1 key)
  list(GET parts 2 property)
  list(APPEND queries
       "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('Ini${property}', 'KORVAL~1.INI|KORVAL_Update_Service.ini', 'INSTALLFOLDER', '${section}', '${key}', '[${property}]', 0, 'SampleIni')")
endforeach()

foreach(query IN LISTS queries)
  execute_process(COMMAND ${MSIBUILD} package.msi -q "${query}"
                  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild failed on ${query}: ${errors}")
  endif()
endforeach()
# Signed like the exe, when the build is given a certificate.
execute_process(COMMAND ${CMAKE_COMMAND} -DFILE=${STAGE}/package.msi
                        -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/sign.cmake
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "signing the package failed")
endif()
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
file(COPY_FILE ${STAGE}/package.msi ${OUTPUT})
