# The bundles' factory presets, written from one table into presets.ttl, each listed in the
# manifest so hosts find them without loading the plug-in. Every preset sets all the plug-in's
# controls, so choosing one never leaves a setting of the one before.

set(preset_note_names C "C#" D "D#" E F "F#" G "G#" A "A#" B)
set(preset_note_slugs c c-sharp d d-sharp e f f-sharp g g-sharp a a-sharp b)
set(preset_note_symbols c cs d ds e f fs g gs a as b)
set(preset_major_steps 0 2 4 5 7 9 11)
set(preset_minor_steps 0 2 3 5 7 8 10)

# Voice changers: label;slug;pitch;formant (semitones), with Scale off.
set(preset_voices
  "Deeper voice|deeper-voice|-3|-2"
  "Brighter voice|brighter-voice|3|2"
  "Octave down, formants kept|octave-down|-12|0"
  "Octave up, formants kept|octave-up|12|0"
  "Formants down (larger voice)|formants-down|0|-3"
  "Formants up (smaller voice)|formants-up|0|3")

# Halvern Live's own: label|slug|Retune (ms), with Scale on and every note lit.
set(preset_retunes
  "Hard tune|hard-tune|0"
  "Gentle|gentle|200")

# One preset of preset_plugin: its manifest entry and its resource in presets.ttl. notes is the
# list of the twelve switches (0 or 1) from C up; a seventh argument is its Retune (ms).
function(halvern_lv2_preset slug label pitch formant scale notes)
  set(uri "${preset_plugin}:preset:${slug}")
  set(ports "
		[ lv2:symbol \"pitch\" ; pset:value ${pitch}.0 ] ,
		[ lv2:symbol \"formant\" ; pset:value ${formant}.0 ] ,
		[ lv2:symbol \"scale\" ; pset:value ${scale}.0 ]")
  foreach(k RANGE 11)
    list(GET preset_note_symbols ${k} symbol)
    list(GET notes ${k} on)
    string(APPEND ports " ,
		[ lv2:symbol \"scale_${symbol}\" ; pset:value ${on}.0 ]")
  endforeach()
  if(ARGC GREATER 6)
    string(APPEND ports " ,
		[ lv2:symbol \"retune\" ; pset:value ${ARGV6}.0 ]")
  endif()
  set(preset_manifest "${preset_manifest}
<${uri}>
	a pset:Preset ;
	lv2:appliesTo <${preset_plugin}> ;
	rdfs:seeAlso <presets.ttl> .
" PARENT_SCOPE)
  set(preset_bodies "${preset_bodies}
<${uri}>
	a pset:Preset ;
	lv2:appliesTo <${preset_plugin}> ;
	rdfs:label \"${label}\" ;
	lv2:port${ports} .
" PARENT_SCOPE)
endfunction()

# The presets of preset_plugin into dir/presets.ttl and their manifest entries into manifest_var:
# the 24 keys, Chromatic, Off and the voice changers; with a Retune (ms, Halvern Live), each sets
# it, and Live's own follow.
function(halvern_lv2_presets dir preset_plugin manifest_var)
  set(retune ${ARGN})
  set(preset_manifest "")
  set(preset_bodies "")
  foreach(mode major minor)
    foreach(tonic RANGE 11)
      set(notes 0 0 0 0 0 0 0 0 0 0 0 0)
      foreach(step ${preset_${mode}_steps})
        math(EXPR pitch_class "(${tonic} + ${step}) % 12")
        list(REMOVE_AT notes ${pitch_class})
        list(INSERT notes ${pitch_class} 1)
      endforeach()
      list(GET preset_note_names ${tonic} name)
      list(GET preset_note_slugs ${tonic} slug)
      halvern_lv2_preset("${slug}-${mode}" "${name} ${mode}" 0 0 1 "${notes}" ${retune})
    endforeach()
  endforeach()

  set(all_notes 1 1 1 1 1 1 1 1 1 1 1 1)
  halvern_lv2_preset(chromatic "Chromatic" 0 0 1 "${all_notes}" ${retune})
  halvern_lv2_preset(off "Off" 0 0 0 "${all_notes}" ${retune})
  foreach(voice ${preset_voices})
    string(REPLACE "|" ";" voice "${voice}")
    list(GET voice 0 label)
    list(GET voice 1 slug)
    list(GET voice 2 pitch)
    list(GET voice 3 formant)
    halvern_lv2_preset(${slug} "${label}" ${pitch} ${formant} 0 "${all_notes}" ${retune})
  endforeach()
  if(retune)
    foreach(preset ${preset_retunes})
      string(REPLACE "|" ";" preset "${preset}")
      list(GET preset 0 label)
      list(GET preset 1 slug)
      list(GET preset 2 ms)
      halvern_lv2_preset(${slug} "${label}" 0 0 1 "${all_notes}" ${ms})
    endforeach()
  endif()

  set(${manifest_var} "${preset_manifest}" PARENT_SCOPE)
  file(CONFIGURE OUTPUT ${dir}/presets.ttl CONTENT "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .
${preset_bodies}" @ONLY)
endfunction()
