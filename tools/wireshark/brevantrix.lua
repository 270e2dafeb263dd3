-- Wireshark dissectors for the traffic between Quillmar and Brevantrix conveyor modules:
--   * the management protocol on UDP port 55555 (discovery, topology, neighbours, set address,
--     set first/last, PLC lock, routing, management commands);
--   * the raw AutoConfig, Replace and factory-reset frames (EtherType 0x804A, 0x804B, 0x804D)
--     and the module's factory-reset acknowledgement (0x804E);
--   * the flash image on UDP port 55557;
--   * the PLC data requests on UDP port 55559.
-- The UDP protocols are found by heuristics (ports, fixed bytes, consistent lengths), so that
-- other traffic on these ports stays undecoded. Every length is checked before it is read; a
-- frame that does not hold what its lengths promise is marked malformed.
--
-- Use: tshark -X lua_script:brevantrix.lua -r capture.pcap, or copy the file into Wireshark's
-- plugin folder (the package installs it into the global one).

local MODULE_PORT = 55555
local FLASH_PORT = 55557
local PLC_PORT = 55559
local HEADER_LENGTH = 8

---------------------------------------------------------------------------------------------
-- UDP 55555: the management protocol
---------------------------------------------------------------------------------------------

local mgmt = Proto("brevantrix", "Brevantrix module protocol")

-- Names as the tool's own log lines give them where it has them.
local code_names = {
  [0x10] = "Discover request",
  [0x1F] = "Discover answer",
  [0x20] = "Set NodeIP request",
  [0x21] = "Set NodeIP answer",
  [0x30] = "Set First/Last request",
  [0x31] = "Set First/Last answer",
  [0x41] = "GO_NORMAL",
  [0x50] = "PACKET_DISCOVER_ON_LEFT",
  [0x51] = "PACKET_DISCOVER_ON_RIGHT",
  [0x53] = "PACKET_ALL_GO_ROUTING_NEW",
  [0x58] = "Discover answer (PING3)",
  [0x59] = "Discover answer (PING3)",
  [0x60] = "PACKET_GET_TOPOLOGY",
  [0x61] = "OP_GET_TOPOLOGY answer",
  [0x70] = "PLC lock request",
  [0x71] = "Answer 0x71",
  [0x73] = "ReadLock answer",
  [0x75] = "ReadLock answer",
  [0x77] = "Answer 0x77",
  [0x78] = "PACKET_GET_NEIGHBORS",
  [0x79] = "TOPOLOGY_MACs answer",
  [0xB0] = "Management command",
}

local port_code_names = { [0] = "none", [1] = "right port", [2] = "left port" }
local lock_names = { [0] = "unlocked", [1] = "locked" }
local command_word_names = { [0x80] = "restart", [0x40] = "restart" }

local f = {
  code = ProtoField.uint8("brevantrix.code", "Packet code", base.HEX, code_names),
  reserved = ProtoField.uint8("brevantrix.reserved", "Reserved", base.HEX),
  flags = ProtoField.uint8("brevantrix.flags", "Packet flags", base.HEX),
  direction = ProtoField.string("brevantrix.direction", "Direction"),
  length = ProtoField.uint8("brevantrix.length", "Data length", base.DEC),
  seq = ProtoField.uint32("brevantrix.seq", "Sequence number", base.HEX),
  magic = ProtoField.string("brevantrix.mgmt", "Management tag"),
  command_word = ProtoField.uint32("brevantrix.mgmt.command", "Command word", base.DEC,
                                   command_word_names),
  serial = ProtoField.uint32("brevantrix.serial", "Serial number", base.DEC),
  ip = ProtoField.ipv4("brevantrix.ip", "IP address"),
  mask = ProtoField.ipv4("brevantrix.mask", "Subnet mask"),
  gateway = ProtoField.ipv4("brevantrix.gateway", "Gateway"),
  position = ProtoField.uint8("brevantrix.position", "Line position", base.HEX),
  position_first = ProtoField.bool("brevantrix.position.first", "First module", 8, nil, 0x01),
  position_last = ProtoField.bool("brevantrix.position.last", "Last module", 8, nil, 0x02),
  capability = ProtoField.uint8("brevantrix.capability", "Capability (family in the high nibble)",
                                base.HEX),
  family = ProtoField.uint8("brevantrix.family", "Module family", base.HEX, nil, 0xF0),
  fw_major = ProtoField.uint8("brevantrix.fw.major", "Firmware major (100 added by some families)",
                              base.DEC),
  fw_minor = ProtoField.uint8("brevantrix.fw.minor", "Firmware minor", base.DEC),
  firmware = ProtoField.string("brevantrix.fw", "Firmware"),
  record_tail = ProtoField.bytes("brevantrix.record.tail", "Further record bytes"),
  buddy_serial = ProtoField.uint32("brevantrix.buddy.serial", "Buddy serial number", base.DEC),
  buddy_unused = ProtoField.bytes("brevantrix.buddy.unused", "Not used"),
  buddy_count = ProtoField.uint8("brevantrix.buddies", "Buddies", base.DEC),
  left_port = ProtoField.uint8("brevantrix.left.port", "Left port code", base.DEC, port_code_names),
  left_mac = ProtoField.ether("brevantrix.left.mac", "Left neighbour MAC"),
  right_port = ProtoField.uint8("brevantrix.right.port", "Right port code", base.DEC,
                                port_code_names),
  right_mac = ProtoField.ether("brevantrix.right.mac", "Right neighbour MAC"),
  lock = ProtoField.uint32("brevantrix.lock", "Lock value", base.DEC, lock_names),
  lock_state = ProtoField.uint32("brevantrix.lock.state", "Lock state", base.DEC, lock_names),
  record_count = ProtoField.uint8("brevantrix.records", "Node records", base.DEC),
  extra = ProtoField.bytes("brevantrix.data", "Data"),
  trailing = ProtoField.bytes("brevantrix.trailing", "Bytes after the data"),
}
mgmt.fields = f

local ef_malformed = ProtoExpert.new("brevantrix.malformed", "Malformed Brevantrix packet",
                                     expert.group.MALFORMED, expert.severity.ERROR)
mgmt.experts = { ef_malformed }

local function malformed(tree, expert_field, text)
  tree:add_proto_expert_info(expert_field, text)
end

-- A node record of `length` bytes at `tvb(offset)`; the fields present depend on the length.
local function add_record(tree, tvb, offset, length, title)
  local sub = tree:add(mgmt, tvb(offset, length), title or "Node record")
  local serial = tvb(offset, 4):uint()
  sub:add(f.serial, tvb(offset, 4))
  sub:add(f.ip, tvb(offset + 4, 4))
  local summary = string.format("SN %u %s", serial, tostring(tvb(offset + 4, 4):ipv4()))
  if length >= 16 then
    sub:add(f.mask, tvb(offset + 8, 4))
    sub:add(f.gateway, tvb(offset + 12, 4))
  end
  if length >= 18 then
    local position = sub:add(f.position, tvb(offset + 16, 1))
    if tvb(offset + 16, 1):uint() ~= 0xFF then
      position:add(f.position_first, tvb(offset + 16, 1))
      position:add(f.position_last, tvb(offset + 16, 1))
    else
      position:append_text(" (unknown)")
    end
    local capability = sub:add(f.capability, tvb(offset + 17, 1))
    capability:add(f.family, tvb(offset + 17, 1))
  end
  if length >= 20 then
    local major = tvb(offset + 18, 1):uint()
    local minor = tvb(offset + 19, 1):uint()
    sub:add(f.fw_major, tvb(offset + 18, 1))
    sub:add(f.fw_minor, tvb(offset + 19, 1))
    if major >= 100 then major = major - 100 end
    local text = string.format("%d.%d", major, minor)
    sub:add(f.firmware, tvb(offset + 18, 2), text):set_generated()
    summary = summary .. " fw " .. text
  end
  if length > 20 then sub:add(f.record_tail, tvb(offset + 20, length - 20)) end
  sub:append_text(": " .. summary)
  return summary
end

local function add_mgmt_tag(tree, tvb, offset)
  tree:add(f.magic, tvb(offset, 4))
  tree:add(f.command_word, tvb(offset + 4, 4))
end

local function is_mgmt_tag(tvb, offset, available)
  return available >= 8 and tvb(offset, 4):string() == "MGMT"
end

-- The data of each code; `data` is the number of data bytes present (never more than the
-- frame holds). Returns a short text for the Info column.
local function dissect_data(code, tvb, pinfo, tree, data, from_module)
  local o = HEADER_LENGTH
  if code == 0x10 then
    if data == 0 then return "" end
    if data < 8 then
      malformed(tree, ef_malformed, "A node record has at least 8 bytes")
      return ""
    end
    return " (PING1 announcement) " .. add_record(tree, tvb, o, math.min(data, 64))
  elseif code == 0x1F or code == 0x21 or code == 0x31 then
    if data < 8 then
      malformed(tree, ef_malformed, "A node record has at least 8 bytes")
      return ""
    end
    local kind = ""
    if code == 0x1F then kind = data >= 16 and " (PING1)" or " (PING2)" end
    return kind .. " " .. add_record(tree, tvb, o, math.min(data, 64))
  elseif code == 0x58 or code == 0x59 then
    local count = math.floor(data / 20)
    tree:add(f.record_count, count):set_generated()
    for k = 0, count - 1 do add_record(tree, tvb, o + 20 * k, 20) end
    if data % 20 ~= 0 then
      malformed(tree, ef_malformed, string.format("%d bytes after the last 20-byte record",
                                                  data % 20))
    end
    return string.format(" %d records", count)
  elseif code == 0x20 or code == 0x30 then
    if data < 16 then
      malformed(tree, ef_malformed, "The request holds at least 16 bytes (serial, address, mask, gateway)")
      return ""
    end
    local title = code == 0x20 and "New settings" or "Record with the new line position"
    return " " .. add_record(tree, tvb, o, data, title)
  elseif code == 0x41 or code == 0x50 or code == 0x51 then
    if data < 8 then
      malformed(tree, ef_malformed, "The request holds the target's serial number and address")
      return ""
    end
    tree:add(f.serial, tvb(o, 4))
    tree:add(f.ip, tvb(o + 4, 4))
    return string.format(" SN %u %s", tvb(o, 4):uint(), tostring(tvb(o + 4, 4):ipv4()))
  elseif code == 0x60 or code == 0x78 then
    if not is_mgmt_tag(tvb, o, data) then
      malformed(tree, ef_malformed, "The query holds \"MGMT\" and a command word")
      return ""
    end
    add_mgmt_tag(tree, tvb, o)
    return ""
  elseif code == 0x61 then
    local count = math.floor(data / 8)
    tree:add(f.buddy_count, count):set_generated()
    local serials = {}
    for k = 0, count - 1 do
      local entry = tree:add(mgmt, tvb(o + 8 * k, 8), string.format("Buddy %d", k))
      entry:add(f.buddy_serial, tvb(o + 8 * k, 4))
      entry:add(f.buddy_unused, tvb(o + 8 * k + 4, 4))
      serials[#serials + 1] = tostring(tvb(o + 8 * k, 4):uint())
    end
    return string.format(" %d buddies %s", count, table.concat(serials, " "))
  elseif code == 0x79 then
    if data < 14 then
      malformed(tree, ef_malformed, "A neighbours answer holds 14 bytes")
      return ""
    end
    tree:add(f.left_port, tvb(o, 1))
    tree:add(f.left_mac, tvb(o + 1, 6))
    tree:add(f.right_port, tvb(o + 7, 1))
    tree:add(f.right_mac, tvb(o + 8, 6))
    return string.format(" left %s-%d right %s-%d", tostring(tvb(o + 1, 6):ether()),
                         tvb(o, 1):uint(), tostring(tvb(o + 8, 6):ether()), tvb(o + 7, 1):uint())
  elseif code == 0x70 then
    if not is_mgmt_tag(tvb, o, data) then
      malformed(tree, ef_malformed, "The lock request holds \"MGMT\" and the lock value")
      return ""
    end
    tree:add(f.magic, tvb(o, 4))
    tree:add(f.lock, tvb(o + 4, 4))
    return " " .. (lock_names[tvb(o + 4, 4):uint()] or "?")
  elseif code == 0x73 or code == 0x75 then
    if data < 8 then
      malformed(tree, ef_malformed, "A ReadLock answer holds a node record")
      return ""
    end
    local record = math.min(data, 20)
    local summary = add_record(tree, tvb, o, record)
    if data >= 24 then
      tree:add(f.lock_state, tvb(o + 20, 4))
      summary = summary .. " " .. (lock_names[tvb(o + 20, 4):uint()] or "?")
    end
    return " " .. summary
  elseif code == 0xB0 then
    if not is_mgmt_tag(tvb, o, data) then
      malformed(tree, ef_malformed, "A management command holds \"MGMT\" and a command word")
      return ""
    end
    add_mgmt_tag(tree, tvb, o)
    if data > 8 then tree:add(f.extra, tvb(o + 8, data - 8)) end
    return string.format(" command %d", tvb(o + 4, 4):uint())
  end
  if data > 0 then tree:add(f.extra, tvb(o, data)) end
  return ""
end

local function dissect_mgmt(tvb, pinfo, tree)
  local length = tvb:len()
  local code = tvb(0, 1):uint()
  local from_module = pinfo.src_port == MODULE_PORT
  pinfo.cols.protocol = "Brevantrix"
  local root = tree:add(mgmt, tvb(), "Brevantrix module protocol")
  root:add(f.code, tvb(0, 1))
  root:add(f.reserved, tvb(1, 1))
  root:add(f.flags, tvb(2, 1))
  if from_module and code ~= 0x10 then
    local text = tvb(2, 1):uint() == 0x10 and "Left To Right" or "Right To Left"
    root:add(f.direction, tvb(2, 1), text):set_generated()
  end
  root:add(f.length, tvb(3, 1))
  root:add_le(f.seq, tvb(4, 4))
  local declared = tvb(3, 1):uint()
  local present = length - HEADER_LENGTH
  local data = math.min(declared, present)
  if declared > present then
    malformed(root, ef_malformed, string.format(
        "Data length %d, but only %d bytes follow the header", declared, present))
  end
  local name = code_names[code] or string.format("Code 0x%02X", code)
  local info = dissect_data(code, tvb, pinfo, root, data, from_module)
  if present > declared then root:add(f.trailing, tvb(HEADER_LENGTH + declared)) end
  pinfo.cols.info = string.format("%s%s, seq 0x%08X", name, info, tvb(4, 4):le_uint())
  root:append_text(", " .. name)
  return length
end

local function heuristic_mgmt(tvb, pinfo, tree)
  if pinfo.src_port ~= MODULE_PORT and pinfo.dst_port ~= MODULE_PORT then return false end
  if tvb:len() < HEADER_LENGTH then return false end
  if tvb(1, 1):uint() ~= 0 then return false end
  if code_names[tvb(0, 1):uint()] == nil then return false end
  dissect_mgmt(tvb, pinfo, tree)
  return true
end
mgmt:register_heuristic("udp", heuristic_mgmt)

---------------------------------------------------------------------------------------------
-- Raw frames: AutoConfig, Replace, factory reset and its acknowledgement
---------------------------------------------------------------------------------------------

local raw = Proto("brevantrix_raw", "Brevantrix line command")
local raw_names = {
  [0x804A] = "AutoConfig",
  [0x804B] = "Replace",
  [0x804D] = "Factory reset",
  [0x804E] = "Factory reset acknowledgement",
}
local SIGNATURE_TEXT = "Trelbix"
local COMMAND_LENGTH = 19  -- the 33-byte frame after the Ethernet header

local rf = {
  command = ProtoField.string("brevantrix_raw.command", "Command"),
  signature = ProtoField.string("brevantrix_raw.signature", "Signature"),
  signature_bytes = ProtoField.bytes("brevantrix_raw.signature.bytes", "Signature bytes"),
  last_mac = ProtoField.ether("brevantrix_raw.last.mac", "Last module's MAC"),
  first_port = ProtoField.uint8("brevantrix_raw.first.port", "First module's port code", base.DEC,
                                port_code_names),
  last_port = ProtoField.uint8("brevantrix_raw.last.port", "Last module's port code", base.DEC,
                               port_code_names),
  reserved = ProtoField.uint8("brevantrix_raw.reserved", "Reserved", base.HEX),
}
raw.fields = rf
local ef_raw_malformed = ProtoExpert.new("brevantrix_raw.malformed", "Malformed line command",
                                         expert.group.MALFORMED, expert.severity.ERROR)
local ef_raw_signature = ProtoExpert.new("brevantrix_raw.signature.wrong",
                                         "Signature does not match: modules ignore this frame",
                                         expert.group.PROTOCOL, expert.severity.WARN)
raw.experts = { ef_raw_malformed, ef_raw_signature }

local function dissect_raw(tvb, pinfo, tree, ethertype)
  local name = raw_names[ethertype]
  pinfo.cols.protocol = "Brevantrix"
  pinfo.cols.info = name
  local root = tree:add(raw, tvb(), "Brevantrix line command: " .. name)
  root:add(rf.command, name):set_generated()
  if ethertype == 0x804E then return tvb:len() end
  if tvb:len() < COMMAND_LENGTH then
    malformed(root, ef_raw_malformed, string.format(
        "A line command holds %d bytes after the Ethernet header, this one %d", COMMAND_LENGTH,
        tvb:len()))
    return tvb:len()
  end
  root:add(rf.signature, tvb(0, 7))
  root:add(rf.signature_bytes, tvb(7, 3))
  if tvb(0, 7):string() ~= SIGNATURE_TEXT or tvb(7, 3):bytes():tohex() ~= "A04247" then
    root:add_proto_expert_info(ef_raw_signature)
  end
  root:add(rf.last_mac, tvb(10, 6))
  root:add(rf.first_port, tvb(16, 1))
  root:add(rf.last_port, tvb(17, 1))
  root:add(rf.reserved, tvb(18, 1))
  if tvb(10, 6):bytes():tohex() ~= "000000000000" then
    pinfo.cols.info = string.format("%s to the last module %s", name, tostring(tvb(10, 6):ether()))
  end
  return tvb:len()
end

local ethertypes = DissectorTable.get("ethertype")
for ethertype, _ in pairs(raw_names) do
  local one = Proto("brevantrix_raw_" .. string.format("%04x", ethertype),
                    "Brevantrix " .. raw_names[ethertype])
  one.dissector = function(tvb, pinfo, tree) return dissect_raw(tvb, pinfo, tree, ethertype) end
  ethertypes:add(ethertype, one)
end

---------------------------------------------------------------------------------------------
-- UDP 55557: the flash image
---------------------------------------------------------------------------------------------

local flash = Proto("brevantrix_flash", "Brevantrix flash image")
local ff = {
  request = ProtoField.string("brevantrix_flash.request", "Request"),
  count = ProtoField.uint16("brevantrix_flash.registers", "Registers", base.DEC),
  register = ProtoField.uint16("brevantrix_flash.register", "Register", base.DEC),
}
flash.fields = ff
local ef_flash_malformed = ProtoExpert.new("brevantrix_flash.malformed", "Malformed flash image",
                                           expert.group.MALFORMED, expert.severity.ERROR)
flash.experts = { ef_flash_malformed }

local function heuristic_flash(tvb, pinfo, tree)
  local length = tvb:len()
  if pinfo.dst_port == FLASH_PORT and length == 4 and tvb(0, 4):string() == "ERGR" then
    pinfo.cols.protocol = "Brevantrix"
    pinfo.cols.info = "Flash image request"
    local root = tree:add(flash, tvb(), "Brevantrix flash image request")
    root:add(ff.request, tvb(0, 4))
    return true
  end
  if pinfo.src_port ~= FLASH_PORT or length < 2 then return false end
  pinfo.cols.protocol = "Brevantrix"
  local count = math.floor(length / 2)
  pinfo.cols.info = string.format("Flash image, registers 1..%d", count)
  local root = tree:add(flash, tvb(), "Brevantrix flash image")
  root:add(ff.count, count):set_generated()
  for k = 1, count do
    root:add_le(ff.register, tvb(2 * (k - 1), 2)):prepend_text(string.format("[%d] ", k))
  end
  if length % 2 ~= 0 then
    malformed(root, ef_flash_malformed, "The image holds whole 16-bit words")
  end
  return true
end
flash:register_heuristic("udp", heuristic_flash)

---------------------------------------------------------------------------------------------
-- UDP 55559: PLC data requests
---------------------------------------------------------------------------------------------

local plc = Proto("brevantrix_plc", "Brevantrix PLC data")
local plc_kinds = { [1] = "read block", [2] = "write value", [3] = "set bit", [4] = "clear bit" }
local pf = {
  id = ProtoField.uint16("brevantrix_plc.id", "Request id", base.DEC),
  kind = ProtoField.uint16("brevantrix_plc.kind", "Kind", base.DEC, plc_kinds),
  length = ProtoField.uint16("brevantrix_plc.length", "Length", base.DEC),
  reserved = ProtoField.uint16("brevantrix_plc.reserved", "Reserved", base.HEX),
  address = ProtoField.uint16("brevantrix_plc.address", "Data address", base.DEC),
  count = ProtoField.uint16("brevantrix_plc.count", "Count / value size / bit", base.DEC),
  value = ProtoField.uint32("brevantrix_plc.value", "Value", base.DEC),
  status = ProtoField.uint8("brevantrix_plc.status", "Status", base.HEX),
  status_ok = ProtoField.bool("brevantrix_plc.status.success", "Success", 8, nil, 0x40),
  status_error = ProtoField.bool("brevantrix_plc.status.error", "Error", 8, nil, 0x80),
  status_code = ProtoField.uint8("brevantrix_plc.status.code", "Error code", base.DEC, nil, 0x3F),
  data_length = ProtoField.uint16("brevantrix_plc.data_length", "Data length", base.DEC),
  data = ProtoField.bytes("brevantrix_plc.data", "Data"),
}
plc.fields = pf
local ef_plc_malformed = ProtoExpert.new("brevantrix_plc.malformed", "Malformed PLC data packet",
                                         expert.group.MALFORMED, expert.severity.ERROR)
plc.experts = { ef_plc_malformed }

local function dissect_plc_request(tvb, pinfo, tree)
  local length = tvb:len()
  local kind = tvb(2, 2):le_uint()
  local root = tree:add(plc, tvb(), "Brevantrix PLC data request")
  root:add_le(pf.id, tvb(0, 2))
  root:add_le(pf.kind, tvb(2, 2))
  root:add_le(pf.length, tvb(4, 2))
  root:add_le(pf.reserved, tvb(6, 2))
  root:add_le(pf.address, tvb(8, 2))
  root:add_le(pf.count, tvb(10, 2))
  local address = tvb(8, 2):le_uint()
  local count = tvb(10, 2):le_uint()
  local info = string.format("PLC %s id %d at %d", plc_kinds[kind], tvb(0, 2):le_uint(), address)
  local expected = 12
  if kind == 2 then
    expected = 12 + count
    if count ~= 1 and count ~= 2 and count ~= 4 then
      malformed(root, ef_plc_malformed, "A value is 1, 2 or 4 bytes long")
    elseif length >= expected then
      root:add_le(pf.value, tvb(12, count))
      info = info .. string.format(" value %d (%d bytes)", tvb(12, count):le_uint(), count)
    end
  elseif kind == 1 then
    info = info .. string.format(", %d bytes", count)
  else
    info = info .. string.format(", bit %d", count)
  end
  if tvb(4, 2):le_uint() + 8 ~= expected or length ~= expected then
    malformed(root, ef_plc_malformed, string.format(
        "The request holds %d bytes, its length field says %d, its kind needs %d", length,
        tvb(4, 2):le_uint() + 8, expected))
  end
  pinfo.cols.info = info
end

local function dissect_plc_answer(tvb, pinfo, tree)
  local length = tvb:len()
  local root = tree:add(plc, tvb(), "Brevantrix PLC data answer")
  root:add_le(pf.id, tvb(0, 2))
  local status = root:add(pf.status, tvb(2, 1))
  status:add(pf.status_ok, tvb(2, 1))
  status:add(pf.status_error, tvb(2, 1))
  local status_byte = tvb(2, 1):uint()
  if status_byte >= 0x80 then status:add(pf.status_code, tvb(2, 1)) end
  local info = string.format("PLC answer id %d, %s", tvb(0, 2):le_uint(),
                             status_byte >= 0x80 and string.format("error %d", status_byte - 0x80)
                                 or "success")
  if length < 8 then
    malformed(root, ef_plc_malformed, "An answer holds at least 8 bytes")
    pinfo.cols.info = info
    return
  end
  root:add(pf.reserved, tvb(3, 1))
  root:add_le(pf.kind, tvb(4, 2))
  root:add_le(pf.data_length, tvb(6, 2))
  local declared = tvb(6, 2):le_uint()
  if length > 8 then
    root:add(pf.data, tvb(8, length - 8))
    info = info .. string.format(", %d data bytes", length - 8)
  end
  if declared > length - 8 then
    malformed(root, ef_plc_malformed, string.format(
        "Data length %d, but only %d bytes follow the header", declared, length - 8))
  end
  pinfo.cols.info = info
end

local function heuristic_plc(tvb, pinfo, tree)
  local length = tvb:len()
  if pinfo.dst_port == PLC_PORT and length >= 12 then
    local kind = tvb(2, 2):le_uint()
    if plc_kinds[kind] == nil or tvb(6, 2):le_uint() ~= 0 then return false end
    pinfo.cols.protocol = "Brevantrix"
    dissect_plc_request(tvb, pinfo, tree)
    return true
  end
  if pinfo.src_port == PLC_PORT and length >= 4 then
    local status = tvb(2, 1):uint()
    if status < 0x40 or tvb(3, 1):uint() ~= 0 then return false end
    pinfo.cols.protocol = "Brevantrix"
    dissect_plc_answer(tvb, pinfo, tree)
    return true
  end
  return false
end
plc:register_heuristic("udp", heuristic_plc)
