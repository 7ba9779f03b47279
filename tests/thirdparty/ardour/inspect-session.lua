-- Loads a snapshot headless, on the None (Dummy) backend, and reports what Ardour made
-- of the track "Take": ardour7-lua inspect-session.lua FOLDER SNAPSHOT
--
-- One line per plug-in on the track:
--   plugin NAME type=TYPE id=UNIQUE-ID active=0|1 midi-pin=N|none sidechain-midi=PORTS|none
-- and "unknown NAME" for a processor Ardour could not load.

local folder = assert(arg[1], "usage: inspect-session.lua FOLDER SNAPSHOT")
local snapshot = assert(arg[2], "usage: inspect-session.lua FOLDER SNAPSHOT")
local midi = ARDOUR.DataType("midi")

local function fail(message)
  io.stderr:write("inspect-session.lua: " .. message .. "\n")
  os.exit(1)
end

-- The plug-in pin that the insert's first MIDI input feeds.
local function midiPin(insert)
  local map = insert:input_map(0)
  if map:count():n_midi() == 0 then return "none" end
  return tostring(map:get(midi, 0))
end

-- The ports feeding the sidechain's first MIDI input, comma-separated.
local function sidechainMidiSources(insert, candidates)
  if not insert:has_sidechain() then return "none" end
  local port = insert:sidechain_input():midi(0)
  if port:isnil() then return "none" end
  local sources = {}
  for _, name in ipairs(candidates) do
    if port:connected_to(name) then sources[#sources + 1] = name end
  end
  if #sources == 0 then return "none" end
  return table.concat(sources, ",")
end

-- Every MIDI output port of every route, the candidates for sidechain sources.
local function midiOutputs(session)
  local names = {}
  for route in session:get_routes():iter() do
    local outputs = route:output()
    for i = 0, outputs:n_ports():n_midi() - 1 do names[#names + 1] = outputs:midi(i):name() end
  end
  return names
end

local function typeName(pluginType)
  for _, name in ipairs({"LXVST", "LV2", "LADSPA", "VST3", "Lua"}) do
    if pluginType == ARDOUR.PluginType[name] then return name end
  end
  return tostring(pluginType)
end

local function describe(processor, sources)
  if not processor:to_unknownprocessor():isnil() then
    return "unknown " .. processor:name()
  end
  local insert = processor:to_plugininsert()
  if insert:isnil() then return nil end
  local plugin = insert:plugin(0)
  return string.format("plugin %s type=%s id=%s active=%d midi-pin=%s sidechain-midi=%s",
    plugin:name(), typeName(insert:type()), plugin:unique_id(), insert:active() and 1 or 0,
    midiPin(insert), sidechainMidiSources(insert, sources))
end

ARDOUR.config():set_hide_dummy_backend(false)
if AudioEngine:set_backend("None (Dummy)", "", ""):isnil() then fail("no None (Dummy) backend") end
local session = load_session(folder, snapshot)
if not session then fail("cannot load " .. snapshot .. " from " .. folder) end
local take = session:route_by_name("Take")
if take:isnil() then fail("no track Take") end
local sources = midiOutputs(session)
local index = 0
while true do
  local processor = take:nth_processor(index)
  if processor:isnil() then break end
  local line = describe(processor, sources)
  if line then print(line) end
  index = index + 1
end
close_session()
