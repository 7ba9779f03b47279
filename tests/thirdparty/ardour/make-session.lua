-- Builds an Ardour session headless, on the None (Dummy) backend, for the session
-- tests: ardour7-lua make-session.lua FOLDER
--
-- It records 4 s of a stereo take from the backend's test generator into the track
-- "Take" and a few notes, played through Ardour's virtual keyboard port, into the MIDI track
-- "Notes", and moves both takes one second into the session, with a second of silence
-- after them: Ardour may fade its transport in or out at the ends of an export,
-- depending on how busy the machine is, so the ends of the session hold silence. Then it
-- saves three snapshots of the same takes:
--   plain   no plug-in, the MIDI track routed nowhere;
--   plugin  kelvatone on "Take";
--   midi    as plugin, with the MIDI track's output in the plug-in's MIDI sidechain.
-- kelvatone.so must be in the plug-in cache already (see the test that runs this).

local folder = assert(arg[1], "usage: make-session.lua FOLDER")
local name = "kelvatone"
local sampleRate = 48000
local takeSeconds = 4
local noteCount = 8
local silenceSeconds = 1
-- How long a step of Ardour's, done on its own threads, may take on a busy machine.
local settleSeconds = 30
local noGroup = PBD.GroupControlDisposition.NoGroup
local fromScript = ARDOUR.TransportRequestSource.TRS_UI

local function fail(message)
  io.stderr:write("make-session.lua: " .. message .. "\n")
  os.exit(1)
end

-- The Dummy backend, faster than real time, its inputs playing a test signal.
local function startDummyBackend()
  ARDOUR.config():set_hide_dummy_backend(false)
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  if backend:isnil() then fail("no None (Dummy) backend") end
  backend:set_driver("10x Speed")
  backend:set_device_name("Sine Sweep Swell")
end

local function newAudioTrack(session)
  local tracks = session:new_audio_track(2, 2, nil, 1, "Take",
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
  local track = tracks:front()
  for i = 0, 1 do
    local port = track:input():nth(i)
    port:disconnect_all()
    if port:connect("system:capture_" .. (i + 1)) ~= 0 then fail("cannot connect " .. port:name()) end
  end
  return track
end

local function newMidiTrack(session, keyboard)
  local oneMidi = ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1)
  local tracks = session:new_midi_track(oneMidi, oneMidi, false, ARDOUR.PluginInfo(), nil, nil, 1,
    "Notes", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
  local track = tracks:front()
  local input = track:input():nth(0)
  input:disconnect_all()
  if input:connect(keyboard:name()) ~= 0 then fail("cannot connect " .. input:name()) end
  track:output():disconnect_all(nil)
  return track
end

local function midiBytes(list)
  local bytes = C.ByteVector()
  bytes:add(list)
  return bytes:to_array()
end

-- Waits until the condition holds; Ardour applies requests on its process and butler
-- threads, so the script waits for their effect rather than assuming it.
local function waitUntil(condition, what)
  local pollMicroseconds = 2000
  for _ = 1, settleSeconds * 1000000 // pollMicroseconds do
    if condition() then return end
    ARDOUR.LuaAPI.usleep(pollMicroseconds)
  end
  fail("timed out waiting until " .. what)
end

-- Waits until the transport has passed the sample position.
local function rollTo(session, position)
  waitUntil(function() return session:transport_sample() >= position end,
    "the transport passes " .. position)
end

local function regionCount(track)
  return track:playlist():region_list():size()
end

-- Records both tracks at once for takeSeconds of session time, however fast the
-- backend runs, playing a rising scale on the keyboard port meanwhile.
local function recordTakes(session, tracks, keyboard)
  for _, track in ipairs(tracks) do
    track:rec_enable_control():set_value(1, noGroup)
    waitUntil(function() return track:rec_enable_control():get_value() == 1 end,
      track:name() .. " is armed")
  end
  session:maybe_enable_record(false)
  waitUntil(function() return session:record_status() == ARDOUR.Session.RecordState.Enabled end,
    "the session is armed")
  session:request_roll(fromScript)
  waitUntil(function() return session:actively_recording() end, "the session records")
  local step = math.floor(takeSeconds * sampleRate / (2 * noteCount + 1))
  for i = 0, noteCount - 1 do
    rollTo(session, (2 * i + 1) * step)
    keyboard:write(midiBytes({0x90, 60 + 2 * i, 100}), 3, 0)
    rollTo(session, (2 * i + 2) * step)
    keyboard:write(midiBytes({0x80, 60 + 2 * i, 0}), 3, 0)
  end
  rollTo(session, takeSeconds * sampleRate)
  session:request_stop(false, false, fromScript)
  waitUntil(function() return session:transport_stopped() end, "the transport stops")
  session:disable_record(false, false)
  for _, track in ipairs(tracks) do
    track:rec_enable_control():set_value(0, noGroup)
    -- The butler writes the take and makes its region after the transport has stopped.
    waitUntil(function() return regionCount(track) == 1 end, track:name() .. "'s take is kept")
  end
end

-- Moves every take silenceSeconds later and makes the session range end silenceSeconds
-- after the last one.
local function surroundWithSilence(session, tracks)
  local silence = silenceSeconds * sampleRate
  local last = 0
  for _, track in ipairs(tracks) do
    for region in track:playlist():region_list():iter() do
      region:set_position(Temporal.timepos_t(silence + region:position():samples()))
      last = math.max(last, region:position():samples() + region:length():samples())
    end
  end
  local range = session:locations():session_range_location()
  if not range then fail("the session has no range") end
  range:set(Temporal.timepos_t(0), Temporal.timepos_t(last + silence))
end

local function noteCountOf(midiTrack)
  local count = 0
  for region in midiTrack:playlist():region_list():iter() do
    count = count + ARDOUR.LuaAPI.note_list(region:to_midiregion():model()):size()
  end
  return count
end

local function insertKelvatone(session, track)
  local plugin = ARDOUR.LuaAPI.new_plugin(session, "kelvatone", ARDOUR.PluginType.LXVST, "")
  if plugin:isnil() then fail("kelvatone is not in Ardour's plug-in cache") end
  if track:add_processor_by_index(plugin, 0, nil, true) ~= 0 then fail("cannot insert kelvatone") end
  return plugin:to_plugininsert()
end

-- A MIDI port in the plug-in's sidechain input, fed by the MIDI track.
local function routeIntoSidechain(track, insert, midiTrack)
  if not track:add_sidechain(insert) then fail("cannot add a sidechain to kelvatone") end
  local sidechain = insert:sidechain_input()
  if sidechain:remove_port(sidechain:audio(0), nil) ~= 0 then
    fail("cannot remove the sidechain's audio port")
  end
  if sidechain:add_port("", nil, ARDOUR.DataType("midi")) ~= 0 then
    fail("cannot add a MIDI port to the sidechain")
  end
  local midiOut = midiTrack:output():midi(0)
  if midiOut:connect(sidechain:midi(0):name()) ~= 0 then fail("cannot connect " .. midiOut:name()) end
  local map = insert:input_map(0)
  map:set(ARDOUR.DataType("midi"), 0, 0)
  insert:set_input_map(0, map)
end

local function saveSnapshot(session, snapshot)
  if session:save_state(snapshot, false, false, false, false, false) ~= 0 then
    fail("cannot save the snapshot " .. snapshot)
  end
end

startDummyBackend()
local session = create_session(folder, name, sampleRate)
if not session then fail("cannot create a session in " .. folder) end
local keyboard = AudioEngine:get_port_by_name("x-virtual-keyboard"):to_asyncmidiport()
local take = newAudioTrack(session)
local notes = newMidiTrack(session, keyboard)
recordTakes(session, {take, notes}, keyboard)
if noteCountOf(notes) == 0 then fail("the MIDI take holds no notes") end
surroundWithSilence(session, {take, notes})
saveSnapshot(session, "plain")
local insert = insertKelvatone(session, take)
saveSnapshot(session, "plugin")
routeIntoSidechain(take, insert, notes)
saveSnapshot(session, "midi")
close_session()
