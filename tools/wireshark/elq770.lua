-- Wireshark dissector for ELQ770 serial-line recordings (pcap, link type 147,
-- USER0). Each packet is one direction byte (0 from the device, 1 to the
-- device) and the bytes that crossed the line.
--
-- The bytes are cut into lines at CR exactly as the program's receive parser
-- does it, per direction and across packets: a line torn over two packets is
-- shown in the packet that holds its CR. Of a line only its first 7 bytes are
-- kept, and a NUL byte ends it early, as in the program. Words, checksums and
-- meanings are those `elq770ctl decode` shows.
--
-- Install: copy this file into Wireshark's personal Lua plugins folder
-- (%APPDATA%\Wireshark\plugins on Windows, ~/.local/lib/wireshark/plugins
-- on Linux), or load it once with: tshark -X lua_script:elq770.lua -r FILE

local elq = Proto("elq770", "ELQ770 serial line")

local DIRECTIONS = { [0] = "from device", [1] = "to device" }

local f_direction = ProtoField.uint8("elq770.direction", "Direction", base.DEC, DIRECTIONS)
local f_word = ProtoField.uint16("elq770.word", "Reply word", base.DEC)
local f_checksum_ok = ProtoField.bool("elq770.checksum_ok", "Checksum good")
local f_band = ProtoField.string("elq770.band", "Band")
local f_command = ProtoField.uint16("elq770.command", "Command word", base.DEC)
local f_meaning = ProtoField.string("elq770.meaning", "Meaning")
-- Counted across packets: a stream without CR outgrows 16 and 32 bits.
local f_unfinished = ProtoField.uint64("elq770.unfinished", "Bytes without CR so far", base.DEC)
elq.fields = { f_direction, f_word, f_checksum_ok, f_band, f_command, f_meaning, f_unfinished }

local e_bad_checksum = ProtoExpert.new("elq770.checksum_bad", "Checksum bad: the program ignores this line",
    expert.group.CHECKSUM, expert.severity.WARN)
local e_bad_direction = ProtoExpert.new("elq770.direction_bad", "Direction byte is neither 0 nor 1",
    expert.group.MALFORMED, expert.severity.ERROR)
elq.experts = { e_bad_checksum, e_bad_direction }

local CR = 13
local LINE_KEPT = 7  -- the bytes of a line the program keeps

-- Parameter bands, by code ascending: a parameter word is code + value.
local PARAMETER_BANDS = {
    { 3000, "limit1Type" }, { 3010, "limit2Type" }, { 3020, "limit1CurrentRange" },
    { 3030, "limit2CurrentRange" }, { 3040, "nominalVoltage" }, { 3050, "analogueOutput" },
    { 3060, "polarity" }, { 3065, "autoShutDown" }, { 3070, "outputs" },
    { 3100, "limit1Setpoint" }, { 3200, "limit2Setpoint" }, { 3300, "limit1Tr" },
    { 3600, "limit2Tr" }, { 3900, "limit1Ts" }, { 4200, "limit2Ts" }, { 4500, "p1Max" },
}
local PARAMETER_BAND_START = 3000
local PARAMETER_BAND_END = 65000

local COMMANDS = {
    [65050] = "request data", [65051] = "space key",
    [65052] = "reset max peak", [65053] = "reset min peak",
}

local function parameter_band(word)
    if word < PARAMETER_BAND_START or word >= PARAMETER_BAND_END then return nil end
    local found = PARAMETER_BANDS[1]
    for _, band in ipairs(PARAMETER_BANDS) do
        if band[1] > word then break end
        found = band
    end
    return found
end

local function character_text(c)
    if c == CR then return "end of text" end
    if c >= 0x20 and c < 0x7f then return "'" .. string.char(c) .. "'" end
    return "character " .. c
end

-- Band name and meaning of a word from the device.
local function reply_meaning(word)
    if word < 128 then return "measurement", "measurement " .. word .. " %, limit 1 active" end
    if word < 300 then return "measurement", "measurement " .. (word - 128) .. " %, limit 2 active" end
    if word < 500 then return "min peak", "min peak " .. (word - 300) .. " %" end
    if word < 1000 then return "max peak", "max peak " .. (word - 500) .. " %" end
    if word >= PARAMETER_BAND_START and word < PARAMETER_BAND_END then
        local band = parameter_band(word)
        return "parameter", "parameter " .. band[2] .. " = " .. (word - band[1])
    end
    if word >= 65010 and word <= 65024 then return "alarm", "alarm word of limit 1" end
    if word >= 65035 and word <= 65049 then return "alarm", "alarm word of limit 2" end
    if word >= 65200 and word <= 65499 then return "text", "text " .. character_text(word - 65200) end
    -- The device's alarm words below level 10, which the program ignores.
    if word >= 65000 and word <= 65009 then
        return "unused", "unused word: alarm word of limit 1 below level 10, which the program ignores"
    end
    if word >= 65025 and word <= 65034 then
        return "unused", "unused word: alarm word of limit 2 below level 10, which the program ignores"
    end
    return "unused", "unused word: in no band the program reads"
end

-- What a command word asks.
local function command_meaning(word)
    if COMMANDS[word] then return COMMANDS[word] end
    local band = parameter_band(word)
    if band == nil then return "unknown" end
    return "set parameter " .. band[2] .. " = " .. (word - band[1])
end

-- The line as the program sees it: the first 7 bytes, up to a NUL.
local function kept_line(bytes)
    local line = {}
    for i = 1, math.min(#bytes, LINE_KEPT) do
        if bytes[i] == 0 then break end
        line[#line + 1] = bytes[i]
    end
    return line
end

local function checksum_ok(line)
    local n = #line
    if n == 0 then return false end
    local sum = 0
    for i = 1, n - 1 do sum = (sum + line[i]) % 256 end
    return sum == line[n]
end

local function high(b) return b - b % 16 end  -- b & 0xF0

local function line_word(line)
    local b = function(i) return line[i] or 0 end  -- past the end: the NUL
    if #line == 5 then
        return high(b(1)) * 256 + high(b(2)) * 16 + high(b(3)) + math.floor(b(4) / 16)
    end
    return high(b(1)) + math.floor(b(2) / 16)
end

-- The line each direction carries into the next packet ({bytes = the first
-- bytes of it, count = all its bytes}), and what every packet found when it
-- was first dissected (the GUI dissects again, in any order, when a packet is
-- clicked).
local function no_line() return { bytes = {}, count = 0 } end
local carried = { [0] = no_line(), [1] = no_line() }
local carried_before = {}

function elq.init()
    carried = { [0] = no_line(), [1] = no_line() }
    carried_before = {}
end

local function copy(line)
    local bytes = {}
    for i = 1, #line.bytes do bytes[i] = line.bytes[i] end
    return { bytes = bytes, count = line.count }
end

-- One line ended by the CR at offset: its tree item; returns the summary.
local function add_line(subtree, range, direction, line)
    local ok = checksum_ok(line)
    if #line == 0 then
        local item = subtree:add(range, "BAD: empty line")
        item:add(f_checksum_ok, range, false)
        item:add(f_meaning, range, "empty line")
        return "BAD: empty line"
    end
    local word = line_word(line)
    local band, meaning
    if direction == 1 then
        meaning = command_meaning(word)
    else
        band, meaning = reply_meaning(word)
    end
    if not ok then meaning = "checksum bad, ignored (" .. meaning .. ")" end
    local text = (ok and "ok" or "BAD") .. " word " .. word .. ": " .. meaning
    local item = subtree:add(range, text)
    if direction == 1 then
        item:add(f_command, range, word)
    else
        item:add(f_word, range, word)
    end
    item:add(f_checksum_ok, range, ok)
    if band then item:add(f_band, range, band) end
    item:add(f_meaning, range, meaning)
    if not ok then item:add_proto_expert_info(e_bad_checksum) end
    return text
end

function elq.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    if length < 1 then return 0 end
    pinfo.cols.protocol = "ELQ770"
    local subtree = tree:add(elq, tvb(), "ELQ770 serial line")
    local direction = tvb(0, 1):uint()
    local dir_item = subtree:add(f_direction, tvb(0, 1))
    if direction > 1 then
        dir_item:add_proto_expert_info(e_bad_direction)
        pinfo.cols.info = "bad direction byte " .. direction
        return length
    end

    if carried_before[pinfo.number] == nil then carried_before[pinfo.number] = copy(carried[direction]) end
    local pending = copy(carried_before[pinfo.number])
    local from_earlier = pending.count > 0  -- the line began in an earlier packet
    local line_start = nil                  -- where it began in this packet
    local summary = {}

    for offset = 1, length - 1 do
        local byte = tvb(offset, 1):uint()
        if byte ~= CR then
            if line_start == nil and not from_earlier then line_start = offset end
            if #pending.bytes < LINE_KEPT then pending.bytes[#pending.bytes + 1] = byte end
            pending.count = pending.count + 1
        else
            local start = from_earlier and 1 or (line_start or offset)
            local range = tvb(start, offset - start + 1)
            summary[#summary + 1] = add_line(subtree, range, direction, kept_line(pending.bytes))
            pending = no_line()
            from_earlier = false
            line_start = nil
        end
    end
    if pending.count > 0 then
        local start = from_earlier and 1 or line_start
        local range = start < length and tvb(start, length - start) or tvb(0, 1)
        subtree:add(f_unfinished, range, UInt64(pending.count))
        summary[#summary + 1] = pending.count .. " bytes without CR so far"
    end
    if not pinfo.visited then carried[direction] = pending end
    pinfo.cols.info = DIRECTIONS[direction] .. ": " .. table.concat(summary, "; ")
    return length
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, elq)
