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

# The data folders get the service's own descriptor (core/ServiceFolderSecurity.cpp), as the
# service gives its download and run-log folders: owner the Administrators, full control for
# SYSTEM and the Administrators only, nothing inherited.
set(service_folder_sddl "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")
list(APPEND queries
     "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)")

# The INI values of the public properties, written only into an INI this package creates. An
# AppSearch looks for the INI before anything is installed (KORVALINIVORHANDEN); the values belong
# to a component of their own (IniWerte, keyed by the folder) whose condition is that no INI was
# found, and which is Permanent, so a removal never takes a value out again. NeverOverwrite on
# the INI's own component alone would not do: Wine's installer still writes the values then.
# Action 0 adds or updates the key.
list(APPEND queries
     "CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)"
     "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('KorvalIni', 'KORVAL~1.INI|KORVAL_Update_Service.ini')"
     "INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('KorvalIni', '[ProgramFiles64Folder]KORVAL Update Service', 0)"
     "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('KORVALINIVORHANDEN', 'KorvalIni')"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)"
     "INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)"
     "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`) VALUES ('IniWerte', '{5C1E8B7A-3D42-4F19-A6E0-9B27C4D81F35}', 'INSTALLFOLDER', 272, 'NOT KORVALINIVORHANDEN')"
     "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Service', 'IniWerte')"
     "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)")
set(ini_keys
    "VERZEICHNISSE IISSITENAME IISSITENAME" "VERZEICHNISSE IISAPPPOOL IISAPPPOOL"
    "VERZEICHNISSE IISMODUS IISMODUS"
    "URLS VersionsNr VERSIONSNR" "URLS KorvalAppServerDLL KORVALAPPSERVERDLL"
    "ABSICHERUNG SIGNATURSCHLUESSEL SIGNATURSCHLUESSEL" "ABSICHERUNG STATUSSEITE STATUSSEITE"
    "UEBERWACHUNG PROMETHEUSDATEI PROMETHEUSDATEI")
foreach(n RANGE 1 5)
  list(APPEND ini_keys "VERZEICHNISSE DLLPFAD${n} DLLPFAD${n}")
endforeach()
# Passed on to the installation's server side in a managed (elevated) installation too. None of
# the per-site properties is: a standard user who starts a managed installation must not choose
# the addresses, the signers, the site the service stops or the files it writes as LocalSystem.
# An administrator's command line, a transform and a deployment running as SYSTEM pass them all.
set(secure_properties "WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED")
# A value holding a line break would add lines of its own to the INI: each property is checked by
# a launch condition (sequence 100, after the AppSearch at 50), which ends the installation before
# any action writes a thing. The CR and LF it looks for are the package's private properties
# KorvalZeichenCR and KorvalZeichenLF, which a command line cannot override. A NUL ends a value
# wherever it goes (the command line, the INI write take strings that end at it): it can cut a
# value short, never add a line. (wixl makes the table and schedules LaunchConditions for the
# downgrade condition already.)
foreach(entry IN LISTS ini_keys)
  separate_arguments(parts UNIX_COMMAND "${entry}")
  list(GET parts 0 section)
  list(GET parts 1 key)
  list(GET parts 2 property)
  list(APPEND queries
       "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('Ini${property}', 'KORVAL~1.INI|KORVAL_Update_Service.ini', 'INSTALLFOLDER', '${section}', '${key}', '[${property}]', 0, 'IniWerte')"
       "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('NOT (${property} >< KorvalZeichenCR OR ${property} >< KorvalZeichenLF)', 'Der Wert von ${property} enthält einen Zeilenumbruch (CR oder LF) und wird nicht in die INI geschrieben. Die Installation wurde abgebrochen.')")
endforeach()

# Runs one SQL statement on the package. A statement passed here may hold semicolons, which a
# list element may not.
function(run_query query)
  execute_process(COMMAND ${MSIBUILD} package.msi -q "${query}"
                  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild failed on ${query}: ${errors}")
  endif()
endfunction()

foreach(query IN LISTS queries)
  run_query("${query}")
endforeach()
# The descriptor and the secure properties hold semicolons.
foreach(row "SchutzDaten KORVALDATEN" "SchutzProtokolle KORVALPROTOKOLLE")
  separate_arguments(parts UNIX_COMMAND "${row}")
  list(GET parts 0 id)
  list(GET parts 1 folder)
  run_query("INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('${id}', '${folder}', 'CreateFolder', '${service_folder_sddl}')")
endforeach()
run_query("UPDATE `Property` SET `Value` = '${secure_properties}' WHERE `Property` = 'SecureCustomProperties'")

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
