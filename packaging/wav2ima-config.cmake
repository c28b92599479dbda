# find_package(wav2ima): the targets wav2ima::player, the player's header
# alone (#include <wav2ima/ima_player.h>), and wav2ima::encoder, the search
# encoder's static library (#include <wav2ima/ima_encoder.h>).
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/wav2ima-targets.cmake)
