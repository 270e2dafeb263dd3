# Included by ctest after the discovered test lists (TEST_INCLUDE_FILES in CMakeLists.txt): how
# ctest schedules the discovered tests. A name this tree does not have is ignored. The tests CMake
# itself adds get their COST where they are added (qm_long_tests).

# Tests that need two runs of a program a predictable time apart run alone: tests beside them
# stretch and scatter the programs' start-up by seconds on a busy machine.
set(qm_run_alone DiscoveryIntegration.ALateAnswerToThePreviousRunIsNotTakenByTheNext)
foreach(qm_test IN LISTS qm_run_alone)
  set_tests_properties("${qm_test}" PROPERTIES RUN_SERIAL TRUE)
endforeach()

# The longest tests start first, so that a pass does not end with one of them running alone: on
# a new build tree ctest knows no test's time yet and starts them in the order they were defined.
# The figures are seconds under ASan on a loaded 2-core machine; only their order matters, and
# ctest replaces them with the times it measures once the tree has run its tests.
set(qm_test_costs
  CliConventions.RefusedNumbersAndTargetsTouchNoModule 127
  LineCommandsCli.RangeAutoConfigOnTheSecondChainNumbersExactlyTheRange 105
  LineCommandsCli.SetIpThenAutoConfigRenumbersTheChainFromTheNewAddress 74
  ConnectionsCli.ExtensionSetUpTwiceKeepsOneMasterEntry 74
  ConnectionsCli.OptionsThatWouldTakeNoEffectAreRefusedBeforeAnythingIsWritten 67
  CliConventions.AFailedWriteReportsWhatWasWrittenBeforeIt 61
  ConnectionsCli.ApplyAllOverFiveModulesNamesTheDeadOne 59
  BackupCli.RestoreByIpMovesModulesBackToTheirRecordedAddresses 59
  DiscoveryIntegration.CollectionWindowsDecideWhichAnswersAreTaken 58
  BackupCli.BackupOfTheDemoLineRestoredOntoNewModules 57
  ConnectionsCli.PlcIoSwitchLeavesRegistersAndProgramAfterTheRestart 57
  LinesimExit.ASignalEndsItAndItsAddressesAndSocketGoWithIt 55
  DiagScreenCli.ARefusedBlockLeavesItsFieldsUnknownAndShowsTheRest 55
  DiagCli.HistoryListsTheDrivesTheLineFileGives 54
  ConnectionsCli.LinksAreWrittenAsDescriptorsAndShown 54
  CliRun.HelpListsEveryCommandAndOptionsStandAnywhere 51
  DiagScreenCli.DeadModuleIsReportedUnreachable 51
  ConnectionsCli.APlcLockWithoutAnAnswerFailsTheSwitch 50
  DiagScreenCli.MotorFaultsAndStopReasonsShowTheirTexts 50
  LineCommandsCli.NodeCommandsCheckAndAskFirst 49
  DiagScreenCli.WatchShowsALostModuleAndItsReturn 48
  DiscoveryIntegration.EveryModuleOfTheDemoLineIsFoundWithItsFields 47
  CliConventions.AParamThatFailsHalfwayReportsTheFieldsDone 47
  CliConventions.NumbersAreDecimalInEveryCommand 47
  DiagScreenCli.WatchFollowsChangesUntilInterrupted 43
  DiscoveryIntegration.LossAndDuplicationOnTheAdapter 42
  PagesCli.ASaveTheModuleNeverConfirmsIsNamedAndFails 42
  ReportCli.EveryModuleIsReportedAndAnUnreadableOneSaysSo 41
  StatsCli.RangeFileHasReadErrorForTheDeadModuleAndGoesOn 41
  DissectorCapture.LineCommandsBackupsAndPlcDataDecode 41
  DiscoveryIntegration.TsharkFindsTheDiscoverFrameChecksumsGood 41
  DiagCli.InjectedEventsAppearInDiaglogWithTheirTexts 41
  DiscoveryIntegration.CliListsTheModulesPerAdapter 40
  LineCommandsCli.SetIpMovesTheModuleToItsNewAddress 40
  RegisterClientLab.ResetModuleRestartsTheModule 40
)
while(qm_test_costs)
  list(POP_FRONT qm_test_costs qm_test qm_cost)
  set_tests_properties("${qm_test}" PROPERTIES COST ${qm_cost})
endwhile()
