# find_package(wav2ima): the target wav2ima::player, the player's header
# alone (#include <wav2ima/ima_player.h>).
include(${CMAKE_CURRENT_LIST_DIR}/wav2ima-targets.cmake)
