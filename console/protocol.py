"""What the console knows of the agent's protocol: which requests it may send,
how a request text is built, and how an answer text is read.

Two answer families share the wire: the legacy envelopes of tools 1 to 3, in
which every leaf is a string ("toolId": "1"), and the formatter responses of
the other tools ("toolId": 7). Neither carries the request id it answers, only
the tool; the agent that gets a request it has no handler for answers with an
empty text, which carries nothing at all.
"""

import json
from urllib.parse import unquote

# Tools 1 to 3 answer only these codes; any other is ignored by the agent
# without an answer, so the console never sends one.
LEGACY_CODES = {
    1: {1101, 1005, 1105},
    2: {2101, 2006, 2007, 2008, 2009, 2105},
    3: {3101, 3105},
}
# Tools served through the agent's JSON handler: every code of 0 to 299 in the
# tool's thousand gets a text back (the empty text where nothing handles it).
FORMATTER_TOOLS = {6, 7, 8, 10, 15}

# Query keys of the agent's WebSocket path, in the order the agent writes them.
AGENT_KEYS = ("clientId", "clientName", "resourceId", "sessionId", "customerId")

# What an agent sends to keep an idle connection to the relay open.
KEEP_ALIVE = "-"

# Keys that carry the result of an action inside a formatter success answer.
_RESULT_KEYS = ("actionResult", "ACTION_RESULT", "Status")
_REMARK_KEYS = ("remarks", "Remarks")


def check_request(tool, code, data):
    """None when the request may be sent, else why not.

    A tool or code the agent does not know makes it stop serving altogether,
    so only the requests it answers get through."""
    if not isinstance(tool, int) or isinstance(tool, bool) or not isinstance(code, int) or isinstance(code, bool):
        return "tool and code must be integers"
    if not isinstance(data, dict):
        return "request data must be an object"
    if tool in LEGACY_CODES:
        if code not in LEGACY_CODES[tool]:
            return f"tool {tool} has no request code {code}"
        return None
    if tool in FORMATTER_TOOLS:
        if not tool * 1000 <= code <= tool * 1000 + 299:
            return f"request code {code} is not one of tool {tool}"
        return None
    return f"no such tool: {tool}"


def build_request(tool, code, data, request_id, web_client_id=""):
    message = {"toolId": tool, "requestId": request_id, "requestMessage": {"requestCode": code, "requestData": data}}
    if web_client_id:
        message["webClientId"] = web_client_id
    return json.dumps(message, ensure_ascii=False)


def answers_empty(tool):
    """True when the agent's empty answer can be the one for this tool."""
    return tool in FORMATTER_TOOLS


def answer_tool(parsed):
    """The tool an answer names, or None when it names none."""
    if not isinstance(parsed, dict):
        return None
    tool = parsed.get("toolId")
    if isinstance(tool, bool):
        return None
    if isinstance(tool, int):
        return tool
    if isinstance(tool, str) and tool.strip().isdigit():
        return int(tool)
    return None


def parse_answer(text):
    """(tool, parsed JSON) of an answer text; (None, None) for the empty text
    or a text that is not a JSON object."""
    if not text:
        return None, None
    try:
        parsed = json.loads(text)
    except ValueError:
        return None, None
    tool = answer_tool(parsed)
    return (tool, parsed) if tool is not None else (None, None)


def _first(mapping, keys):
    for key in keys:
        if key in mapping:
            return mapping[key]
    return None


def summarize(parsed):
    """Reads an answer of either family into one shape:
    family, ok, code (as the agent wrote it), data, and text: the agent's own
    words (its error text, its remark, or the data when that is a text)."""
    success = str(parsed.get("isSuccess", "")).lower() == "true"
    message = parsed.get("responseMessage")
    if isinstance(parsed.get("toolId"), str):
        family = "legacy"
        message = message if isinstance(message, dict) else {}
        if success:
            data = message.get("responseData", {})
            data = data.get("data") if isinstance(data, dict) else None
            code = message.get("responseCode")
            text = data if isinstance(data, str) else ""
        else:
            data, code, text = None, message.get("errorCode"), message.get("errorOutput", "")
        return {"family": family, "ok": success, "code": code, "data": data, "text": text}

    family = "formatter"
    if not success:
        return {"family": family, "ok": False, "code": parsed.get("errorCode"), "data": None,
                "text": parsed.get("errorOutput", "")}
    data = parsed.get("responseData")
    ok, text = True, ""
    if isinstance(data, dict):
        # An action that Windows refused is still a success answer: its
        # verdict is in the data.
        result = _first(data, _RESULT_KEYS)
        if isinstance(result, str) and result.lower() == "failed":
            ok = False
        remark = _first(data, _REMARK_KEYS)
        if isinstance(remark, str) and remark:
            text = remark
        elif isinstance(result, str):
            text = result
    return {"family": family, "ok": ok, "code": parsed.get("responseCode"), "data": data, "text": text}


def parse_agent_query(raw_query):
    """The agent's identifiers from the raw query of its WebSocket path.

    The agent inserts the values as they are, without escaping, so the raw
    text is split on the separators and only well-formed escapes are
    decoded."""
    values = {key: "" for key in AGENT_KEYS}
    for part in raw_query.split("&"):
        key, _, value = part.partition("=")
        if key in values:
            values[key] = unquote(value, errors="replace")
    return values
