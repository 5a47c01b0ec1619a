# Draws the spectrograms of the finished sounds and lists their levels, from the Ogg files the
# game will play. Run through the sound_figures target with SOX, STAGE and FIGURES set.

file(MAKE_DIRECTORY ${FIGURES})

function(sox)
  execute_process(COMMAND ${SOX} ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "sox ${ARGN}: ${errors}")
  endif()
endfunction()

function(spectrogram figure title width height)
  sox(${ARGN} spectrogram -x ${width} -y ${height} -t "${title}" -c "Powderbox"
      -o ${FIGURES}/${figure}.png)
endfunction()

function(seconds_of file result)
  execute_process(COMMAND ${SOX} --info -D ${file} OUTPUT_VARIABLE seconds
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${result} ${seconds} PARENT_SCOPE)
endfunction()

# The effects, each on its own; the fuse three times over, so its two seams show.
foreach(name Explosion Item Step Chat)
  spectrogram(${name} "${name}.ogg" 800 300 ${STAGE}/${name}.ogg -n)
endforeach()
spectrogram(Fuze "Fuze.ogg, three passes of the loop" 900 300
            ${STAGE}/Fuze.ogg ${STAGE}/Fuze.ogg ${STAGE}/Fuze.ogg -n)
# The game slows explosions down to 25000 Hz at most.
spectrogram(Explosion-slow "Explosion.ogg played at 25000 Hz" 800 300
            ${STAGE}/Explosion.ogg -n speed 0.5669 rate 44100)

# The music whole, and four seconds around the seam of the loop played twice.
foreach(name Menu Game)
  set(file ${STAGE}/Music/${name}.ogg)
  spectrogram(${name} "Music/${name}.ogg" 1200 400 ${file} -n remix -)
  seconds_of(${file} seconds)
  # CMake counts in whole numbers only: take two off the whole seconds, keep the fraction.
  string(REGEX MATCH "^([0-9]+)(.*)$" match "${seconds}")
  math(EXPR whole "${CMAKE_MATCH_1} - 2")
  set(from "${whole}${CMAKE_MATCH_2}")
  spectrogram(${name}-seam "Music/${name}.ogg, 2 s either side of the loop seam" 800 300
              ${file} ${file} -n trim ${from} 4 remix -)
endforeach()

# Lengths and levels, as sox measures them.
set(levels "sound              seconds  peak dBFS  RMS dBFS\n")
foreach(entry Fuze Explosion Item Step Chat Music/Menu Music/Game)
  set(file ${STAGE}/${entry}.ogg)
  seconds_of(${file} seconds)
  execute_process(COMMAND ${SOX} ${file} -n stats ERROR_VARIABLE stats)
  string(REGEX MATCH "Pk lev dB +([-0-9.]+)" match "${stats}")
  set(peak ${CMAKE_MATCH_1})
  string(REGEX MATCH "RMS lev dB +([-0-9.]+)" match "${stats}")
  set(rms ${CMAKE_MATCH_1})
  string(APPEND levels "${entry}.ogg")
  string(LENGTH "${entry}.ogg" used)
  math(EXPR pad "19 - ${used}")
  string(REPEAT " " ${pad} spaces)
  string(APPEND levels "${spaces}${seconds}  ${peak}  ${rms}\n")
endforeach()
file(WRITE ${FIGURES}/levels.txt "${levels}")
