-- Builds an Ardour session headless, on the None (Dummy) backend, for the session
-- tests: ardour7-lua make-session.lua FOLDER
--
-- It records 4 s of a stereo take from the backend's test generator into the track
-- "Take" and a few notes, played through Ardour's virtual keyboard port, into the MIDI track
-- "Notes". Then it saves three snapshots of the same takes:
--   plain   no plug-in, the MIDI track routed nowhere;
--   plugin  kelvatone on "Take";
--   midi    as plugin, with the MIDI track's output in the plug-in's MIDI sidechain.
-- kelvatone.so must be in the plug-in cache already (see the test that runs this).

local folder = assert(arg[1], "usage: make-session.lua FOLDER")
local name = "kelvatone"
local sampleRate = 48000
local takeSeconds = 4
local noteCount = 8
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

-- Waits until the transport has passed the sample position.
local function rollTo(session, position)
  while session:transport_sample() < position do ARDOUR.LuaAPI.usleep(2000) end
end

-- Records both tracks at once for takeSeconds of session time, however fast the
-- backend runs, playing a rising scale on the keyboard port meanwhile.
local function recordTakes(session, tracks, keyboard)
  for _, track in ipairs(tracks) do track:rec_enable_control():set_value(1, noGroup) end
  session:maybe_enable_record(false)
  session:request_roll(fromScript)
  local step = math.floor(takeSeconds * sampleRate / (2 * noteCount + 1))
  for i = 0, noteCount - 1 do
    rollTo(session, (2 * i + 1) * step)
    keyboard:write(midiBytes({0x90, 60 + 2 * i, 100}), 3, 0)
    rollTo(session, (2 * i + 2) * step)
    keyboard:write(midiBytes({0x80, 60 + 2 * i, 0}), 3, 0)
  end
  rollTo(session, takeSeconds * sampleRate)
  session:request_stop(false, false, fromScript)
  while not session:transport_stopped() do ARDOUR.LuaAPI.usleep(10000) end
  session:disable_record(false, false)
  for _, track in ipairs(tracks) do track:rec_enable_control():set_value(0, noGroup) end
end

local function regionCount(track)
  return track:playlist():region_list():size()
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
if regionCount(take) ~= 1 or regionCount(notes) ~= 1 then fail("the takes were not recorded") end
if noteCountOf(notes) == 0 then fail("the MIDI take holds no notes") end
saveSnapshot(session, "plain")
local insert = insertKelvatone(session, take)
saveSnapshot(session, "plugin")
routeIntoSidechain(take, insert, notes)
saveSnapshot(session, "midi")
close_session()
